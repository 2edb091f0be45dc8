/* The contract suite's child program: writes its own full path into the file named by the last
   word of its command line, then ends. */
#include <windows.h>
#include <string.h>

int main(void) {
  const char* line = GetCommandLineA();
  const char* marker = line;
  for (const char* p = line; *p; ++p)
    if ((*p == ' ' || *p == '\t') && p[1] != '\0' && p[1] != ' ') marker = p + 1;
  char self[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, self, MAX_PATH);
  HANDLE h = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(h, self, length, &written, NULL);
  CloseHandle(h);
  return 0;
}

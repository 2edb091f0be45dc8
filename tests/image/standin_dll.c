/* A stand-in for a system DLL, planted where it must never be loaded from. When a process loads
 * it, it appends its own full path to the file named by QV_STANDIN_LOG (default C:\standins.log)
 * and then lets the load go on. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t path[MAX_PATH + 2];
    wchar_t log[MAX_PATH];
    DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
    if (GetEnvironmentVariableW(L"QV_STANDIN_LOG", log, MAX_PATH) == 0) lstrcpyW(log, L"C:\\standins.log");
    HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
      char line[3 * MAX_PATH + 2];
      int bytes = WideCharToMultiByte(CP_UTF8, 0, path, (int)length, line, 3 * MAX_PATH, NULL, NULL);
      DWORD written = 0;
      line[bytes++] = '\n';
      WriteFile(file, line, (DWORD)bytes, &written, NULL);
      CloseHandle(file);
    }
  }
  return TRUE;
}

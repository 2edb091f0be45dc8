/* i386_probe: the smallest i686 program the test command runs under Wine, to learn whether this
 * machine can run 32-bit Windows programs at all (scripts/i386-probe.sh). Prints its own word
 * size, whether it runs under WOW64 and the machine's native processor architecture:
 *   i386 probe: 32-bit process, wow64 1, native architecture 9
 * and ends with status 0 when each answer could be read. */
#include <windows.h>

#include <stdio.h>

typedef BOOL(WINAPI* IsWow64ProcessFunction)(HANDLE, PBOOL);
typedef void(WINAPI* GetNativeSystemInfoFunction)(LPSYSTEM_INFO);

int main(void) {
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  /* Both are missing on Windows 2000: no WOW64 there, and the native machine is the process's. */
  IsWow64ProcessFunction isWow64 =
      (IsWow64ProcessFunction)(void*)GetProcAddress(kernel32, "IsWow64Process");
  GetNativeSystemInfoFunction nativeInfo =
      (GetNativeSystemInfoFunction)(void*)GetProcAddress(kernel32, "GetNativeSystemInfo");
  BOOL wow64 = FALSE;
  SYSTEM_INFO info;
  if (isWow64 && !isWow64(GetCurrentProcess(), &wow64)) {
    printf("i386 probe: IsWow64Process failed (error %lu)\n", GetLastError());
    return 1;
  }
  ZeroMemory(&info, sizeof info);
  if (nativeInfo) nativeInfo(&info);
  else GetSystemInfo(&info);
  printf("i386 probe: %d-bit process, wow64 %d, native architecture %u\n",
         (int)(sizeof(void*) * 8), wow64 ? 1 : 0, (unsigned)info.wProcessorArchitecture);
  fflush(stdout);
  return 0;
}

// exit_status: runs a Windows program, waits for it and prints its full 32-bit exit status
// ("exit status 1605"). Under wine the status that reaches Linux keeps only its low 8 bits,
// and Windows Installer numbers (1602, 1605, 1642) need all of them.
//
// Usage: exit_status PROGRAM.exe [ARGS...]   (the rest of the command line is run as given)
#include "app/startup.h"

#include <windows.h>

#include <cstdio>

int main() {
  qv::Text command = qv::app::ArgumentText(reinterpret_cast<const char16_t*>(GetCommandLineW()));
  if (command.empty()) {
    std::fprintf(stderr, "usage: exit_status PROGRAM.exe [ARGS...]\n");
    return 2;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(command.data()), nullptr, nullptr,
                      FALSE, 0, nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "exit_status: cannot start the program (error %lu)\n", GetLastError());
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  BOOL known = GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (!known) return 2;
  std::printf("exit status %lu\n", status);
  return 0;
}

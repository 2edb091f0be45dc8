// The entry point of QV3Update.exe: a windowless GUI program that runs one update (qv::Main)
// over the real Windows seam and ends with an exit status that deployment tools understand.
// With dll_search.cpp the one place besides the real seam (src/platform/win32/) that includes
// <windows.h>: the entry point and its DLL search set-up run before any of the seam is bound.
#include "app/dll_search.h"
#include "app/startup.h"
#include "platform/win32/win32_platform.h"
#include "registry/error.h"
#include "update/modQVUpdate.h"
#include "update/session.h"

#include <windows.h>
#include <objbase.h>

#include "platform/win32/late_binding.h"

#include <cstdlib>
#include <exception>
#include <new>
#include <vector>

// Every exception is caught in wWinMain, so std::terminate is reached only by a fault of the
// program itself. The runtime's default handler would print the exception's demangled type to
// a console the program does not have, and carries the whole demangler (some 45 KB) for it; this
// one ends the process the same way without the print.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace {

qv::Text FromWide(const wchar_t* text) {
  return text ? qv::Text(reinterpret_cast<const char16_t*>(text)) : qv::Text();
}

// The running executable's file name without folder and extension.
qv::Text RunningExeName() {
  std::vector<wchar_t> path(32768);
  DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) return u"QV3Update";
  qv::Text name = qv::app::ExeBaseName(qv::Text(reinterpret_cast<const char16_t*>(path.data()), length));
  return name.empty() ? qv::Text(u"QV3Update") : name;
}

// The program has no window: the report is an ownerless message box. Without a desktop the
// box cannot be shown and the call returns at once.
void Report(const qv::Text& text) {
  // No window under /quiet, not even this one.
  if (qv::ParseSwitches(qv::app::ArgumentText(FromWide(GetCommandLineW()))).quiet) return;
  const qv::Text caption = qv::app::kProgramTitle;
  qv::win::Win32Dialogs().MessageBoxW(qv::win::HWND{}, text.c_str(), caption.c_str(),
                                      MB_OK | MB_ICONERROR);
}

int Run() {
  qv::RunContext context;
  context.arguments = qv::app::ArgumentText(FromWide(GetCommandLineW()));
  context.processBits = static_cast<int>(sizeof(void*) * 8);
  context.exeName = RunningExeName();
#ifdef QV_PACKAGE_SHA256
  // The SHA-256 of the package this release was made for (see src/app/CMakeLists.txt): never
  // read from a file, and above all not from the program's own one, which lies in its user's
  // folder.
  static_assert(sizeof(QV_PACKAGE_SHA256) == 65, "64 hexadecimal digits");
  context.packageSha256 = qv::ParseSha256(QV_PACKAGE_SHA256);
  if (!context.packageSha256) return qv::kExitError;
#endif

  qv::win::Win32Platform seam;
  qv::win::Platform platform = seam.platform();
  // The switches, the log and the event around the update; a failure that is not one of the
  // program's own errors ends the run the same way.
  qv::Session session(platform, context);
  try {
    return session.Run();
  } catch (const std::bad_alloc&) {
    return session.Failed(qv::OutOfMemoryReport());
  } catch (const std::exception& failure) {
    return session.Failed(qv::FailureReport(failure.what()));
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // First of all, before any library is loaded by name: the search restricted to the system
  // folder where Windows can, then every system library the run makes Windows load by name
  // loaded by full path, so that no later load by name can reach the program's folder, on any
  // Windows.
  qv::win::SetSearchRestricted(qv::app::HardenDllSearch());
  qv::win::PreloadSystemLibraries();

  // The shell link object (the Start-menu shortcut) wants a single-threaded apartment.
  qv::win::Win32Shell shell;
  const HRESULT com = shell.CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  int status = qv::kExitError;
  try {
    status = Run();
  } catch (const qv::Error& error) {
    Report(qv::ErrorReport(error.number(), error.description(), error.source()));
  } catch (const std::bad_alloc&) {
    Report(qv::OutOfMemoryReport());
  } catch (const std::exception& failure) {
    Report(qv::FailureReport(failure.what()));
  } catch (...) {
    Report(qv::FailureReport(""));
  }

  if (SUCCEEDED(com)) shell.CoUninitialize();
  return status;
}

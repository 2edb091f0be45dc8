#include "platform/win32/win32_areas.h"

#include <windows.h>
#include <commctrl.h>

#include <cstddef>

#include "platform/win32/late_binding.h"

namespace qv::win {

namespace {

static_assert(sizeof(::WCHAR) == sizeof(WCHAR), "WCHAR is UTF-16");
static_assert(sizeof(::TASKDIALOGCONFIG) == sizeof(TASKDIALOGCONFIG), "TASKDIALOGCONFIG layout");
static_assert(offsetof(::TASKDIALOGCONFIG, dwCommonButtons) == offsetof(TASKDIALOGCONFIG, dwCommonButtons) &&
                  offsetof(::TASKDIALOGCONFIG, hMainIcon) == offsetof(TASKDIALOGCONFIG, hMainIcon) &&
                  offsetof(::TASKDIALOGCONFIG, pButtons) == offsetof(TASKDIALOGCONFIG, pButtons) &&
                  offsetof(::TASKDIALOGCONFIG, hFooterIcon) == offsetof(TASKDIALOGCONFIG, hFooterIcon) &&
                  offsetof(::TASKDIALOGCONFIG, pfCallback) == offsetof(TASKDIALOGCONFIG, pfCallback) &&
                  offsetof(::TASKDIALOGCONFIG, cxWidth) == offsetof(TASKDIALOGCONFIG, cxWidth),
              "TASKDIALOGCONFIG layout");
static_assert(sizeof(::TASKDIALOG_BUTTON) == sizeof(TASKDIALOG_BUTTON), "TASKDIALOG_BUTTON layout");
static_assert(sizeof(void*) != 4 || sizeof(::TASKDIALOGCONFIG) == 96,
              "TASKDIALOGCONFIG is 96 bytes in 32-bit");

::HWND ToWin(HWND h) { return reinterpret_cast<::HWND>(HandleValue(h)); }
HWND FromWin(::HWND h) { return MakeHandle<HWND>(reinterpret_cast<std::uintptr_t>(h)); }
::HINSTANCE ToWin(HINSTANCE h) { return reinterpret_cast<::HINSTANCE>(HandleValue(h)); }
::HICON ToWin(HICON h) { return reinterpret_cast<::HICON>(HandleValue(h)); }
HICON FromWin(::HICON h) { return MakeHandle<HICON>(reinterpret_cast<std::uintptr_t>(h)); }
const wchar_t* ToWin(const WCHAR* s) { return reinterpret_cast<const wchar_t*>(s); }

using TaskDialogIndirectFunction = ::HRESULT(WINAPI*)(const ::TASKDIALOGCONFIG*, int*, int*, ::BOOL*);

}  // namespace

// --- Win32Windows ------------------------------------------------------------------------------

HWND Win32Windows::FindWindowExA(HWND hWndParent, HWND hWndChildAfter, const char* lpszClass,
                                 const char* lpszWindow) {
  return FromWin(::FindWindowExA(ToWin(hWndParent), ToWin(hWndChildAfter), lpszClass, lpszWindow));
}

HWND Win32Windows::GetForegroundWindow() { return FromWin(::GetForegroundWindow()); }

DWORD Win32Windows::GetWindowThreadProcessId(HWND hWnd, DWORD* lpdwProcessId) {
  return ::GetWindowThreadProcessId(ToWin(hWnd), reinterpret_cast<::DWORD*>(lpdwProcessId));
}

BOOL Win32Windows::AttachThreadInput(DWORD idAttach, DWORD idAttachTo, BOOL fAttach) {
  return ::AttachThreadInput(idAttach, idAttachTo, fAttach);
}

BOOL Win32Windows::SetForegroundWindow(HWND hWnd) { return ::SetForegroundWindow(ToWin(hWnd)); }

HWND Win32Windows::CreateFormWindow(HINSTANCE hInstance, const WCHAR* caption, int iconId) {
  const ::HINSTANCE instance = ToWin(hInstance);
  ::WNDCLASSW wc{};
  wc.lpfnWndProc = ::DefWindowProcW;
  wc.hInstance = instance;
  wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(iconId));
  wc.hCursor = nullptr;
  wc.lpszClassName = ToWin(kFormWindowClass);
  // A second form registers nothing new: the class exists already.
  if (!::RegisterClassW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return HWND{};
  // Never shown: no WS_VISIBLE, and nobody calls ShowWindow.
  return FromWin(::CreateWindowExW(0, ToWin(kFormWindowClass), ToWin(caption), WS_OVERLAPPEDWINDOW,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                   nullptr, nullptr, instance, nullptr));
}

BOOL Win32Windows::DestroyWindow(HWND hWnd) { return ::DestroyWindow(ToWin(hWnd)); }

HICON Win32Windows::LoadIconW(HINSTANCE hInstance, const WCHAR* lpIconName) {
  return FromWin(::LoadIconW(ToWin(hInstance), ToWin(lpIconName)));
}

BOOL Win32Windows::DestroyIcon(HICON hIcon) { return ::DestroyIcon(ToWin(hIcon)); }

// --- Win32Dialogs ------------------------------------------------------------------------------

void Win32Dialogs::InitCommonControls() { ::InitCommonControls(); }

int Win32Dialogs::MessageBoxW(HWND hWnd, const WCHAR* lpText, const WCHAR* lpCaption, UINT uType) {
  return ::MessageBoxW(ToWin(hWnd), ToWin(lpText), ToWin(lpCaption), uType);
}

HRESULT Win32Dialogs::TaskDialogIndirect(const TASKDIALOGCONFIG* pTaskConfig, int* pnButton,
                                         int* pnRadioButton, BOOL* pfVerificationFlagChecked) {
  // comctl32 is imported by the program (InitCommonControls), so it is loaded already, in the
  // version the manifest asks for (6, from the side-by-side store). Taking it by module name
  // loads nothing; a full path would give the system folder's version 5, which has no task
  // dialog.
  static const auto function = reinterpret_cast<TaskDialogIndirectFunction>(
      BindFunction(::GetModuleHandleW(L"comctl32.dll"), "TaskDialogIndirect"));
  if (!function) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  return function(reinterpret_cast<const ::TASKDIALOGCONFIG*>(pTaskConfig), pnButton,
                  pnRadioButton, reinterpret_cast<::BOOL*>(pfVerificationFlagChecked));
}

}  // namespace qv::win

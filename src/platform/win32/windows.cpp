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

// What a call whose function could not be bound gives, as the function's own failure would.
template <typename Result>
Result Unbound(Result failure) {
  ::SetLastError(ERROR_PROC_NOT_FOUND);
  return failure;
}

}  // namespace

// --- Win32Windows ------------------------------------------------------------------------------

HWND Win32Windows::FindWindowExA(HWND hWndParent, HWND hWndChildAfter, const char* lpszClass,
                                 const char* lpszWindow) {
  QV_BIND(user32, FindWindowExA);
  if (!FindWindowExA_bound) return Unbound(HWND{});
  return FromWin(FindWindowExA_bound(ToWin(hWndParent), ToWin(hWndChildAfter), lpszClass,
                                     lpszWindow));
}

HWND Win32Windows::GetForegroundWindow() {
  QV_BIND(user32, GetForegroundWindow);
  if (!GetForegroundWindow_bound) return Unbound(HWND{});
  return FromWin(GetForegroundWindow_bound());
}

DWORD Win32Windows::GetWindowThreadProcessId(HWND hWnd, DWORD* lpdwProcessId) {
  QV_BIND(user32, GetWindowThreadProcessId);
  if (!GetWindowThreadProcessId_bound) {
    if (lpdwProcessId) *lpdwProcessId = 0;
    return Unbound(DWORD{0});
  }
  return GetWindowThreadProcessId_bound(ToWin(hWnd), reinterpret_cast<::DWORD*>(lpdwProcessId));
}

BOOL Win32Windows::AttachThreadInput(DWORD idAttach, DWORD idAttachTo, BOOL fAttach) {
  QV_BIND(user32, AttachThreadInput);
  if (!AttachThreadInput_bound) return Unbound(BOOL{FALSE});
  return AttachThreadInput_bound(idAttach, idAttachTo, fAttach);
}

BOOL Win32Windows::SetForegroundWindow(HWND hWnd) {
  QV_BIND(user32, SetForegroundWindow);
  if (!SetForegroundWindow_bound) return Unbound(BOOL{FALSE});
  return SetForegroundWindow_bound(ToWin(hWnd));
}

HWND Win32Windows::CreateFormWindow(HINSTANCE hInstance, const WCHAR* caption, int iconId) {
  QV_BIND(user32, DefWindowProcW);
  QV_BIND(user32, LoadIconW);
  QV_BIND(user32, RegisterClassW);
  QV_BIND(user32, CreateWindowExW);
  if (!DefWindowProcW_bound || !LoadIconW_bound || !RegisterClassW_bound ||
      !CreateWindowExW_bound) {
    return Unbound(HWND{});
  }
  const ::HINSTANCE instance = ToWin(hInstance);
  ::WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW_bound;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW_bound(instance, MAKEINTRESOURCEW(iconId));
  wc.hCursor = nullptr;
  wc.lpszClassName = ToWin(kFormWindowClass);
  // A second form registers nothing new: the class exists already.
  if (!RegisterClassW_bound(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return HWND{};
  // Never shown: no WS_VISIBLE, and nobody calls ShowWindow.
  return FromWin(CreateWindowExW_bound(0, ToWin(kFormWindowClass), ToWin(caption),
                                       WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                       CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance,
                                       nullptr));
}

BOOL Win32Windows::DestroyWindow(HWND hWnd) {
  QV_BIND(user32, DestroyWindow);
  if (!DestroyWindow_bound) return Unbound(BOOL{FALSE});
  return DestroyWindow_bound(ToWin(hWnd));
}

HICON Win32Windows::LoadIconW(HINSTANCE hInstance, const WCHAR* lpIconName) {
  QV_BIND(user32, LoadIconW);
  if (!LoadIconW_bound) return Unbound(HICON{});
  return FromWin(LoadIconW_bound(ToWin(hInstance), ToWin(lpIconName)));
}

BOOL Win32Windows::DestroyIcon(HICON hIcon) {
  QV_BIND(user32, DestroyIcon);
  if (!DestroyIcon_bound) return Unbound(BOOL{FALSE});
  return DestroyIcon_bound(ToWin(hIcon));
}

// --- Win32Dialogs ------------------------------------------------------------------------------

void Win32Dialogs::InitCommonControls() {
  QV_BIND(comctl32, InitCommonControls);
  if (InitCommonControls_bound) InitCommonControls_bound();
}

int Win32Dialogs::MessageBoxW(HWND hWnd, const WCHAR* lpText, const WCHAR* lpCaption, UINT uType) {
  QV_BIND(user32, MessageBoxW);
  if (!MessageBoxW_bound) return Unbound(0);
  return MessageBoxW_bound(ToWin(hWnd), ToWin(lpText), ToWin(lpCaption), uType);
}

HRESULT Win32Dialogs::TaskDialogIndirect(const TASKDIALOGCONFIG* pTaskConfig, int* pnButton,
                                         int* pnRadioButton, BOOL* pfVerificationFlagChecked) {
  // The common controls of version 6 (through the manifest) have it; version 5 has not.
  QV_BIND(comctl32, TaskDialogIndirect);
  if (!TaskDialogIndirect_bound) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  return TaskDialogIndirect_bound(reinterpret_cast<const ::TASKDIALOGCONFIG*>(pTaskConfig),
                                  pnButton, pnRadioButton,
                                  reinterpret_cast<::BOOL*>(pfVerificationFlagChecked));
}

}  // namespace qv::win

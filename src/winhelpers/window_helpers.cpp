// FindCommunicatorWindow and ForceForeground.
#include "platform/ansi_text.h"
#include "winhelpers/winhelpers.h"

namespace qv {

namespace {

// The form of `formClass` captioned `caption`, then its first text box of `textBoxClass`.
// `found` tells whether the form itself exists.
win::HWND FindTextBoxOfForm(win::IWindows& windows, const char* formClass, const char* textBoxClass,
                            const AnsiString& caption, bool& found) {
  const win::HWND form =
      windows.FindWindowExA(win::HWND{}, win::HWND{}, formClass, caption.c_str());
  found = !win::IsNull(form);
  if (!found) return win::HWND{};
  return windows.FindWindowExA(form, win::HWND{}, textBoxClass, nullptr);
}

}  // namespace

win::HWND FindCommunicatorWindow(win::Platform& platform, const Text& sCaption) {
  // A caption the code page cannot carry unchanged could only find another window.
  AnsiCodec codec(platform.codePage, kProgramTitle);
  AnsiString caption;
  if (!codec.TryToAnsi(sCaption, caption)) return win::HWND{};
  bool found = false;
  const win::HWND textBox =
      FindTextBoxOfForm(platform.windows, "ThunderRT6FormDC", "ThunderRT6TextBox", caption, found);
  // A form of the first pair ends the search, even without a text box.
  if (found) return textBox;
  return FindTextBoxOfForm(platform.windows, "ThunderFormDC", "ThunderTextBox", caption, found);
}

void ForceForeground(win::IWindows& windows, win::HWND hWnd) {
  const win::DWORD foregroundThread =
      windows.GetWindowThreadProcessId(windows.GetForegroundWindow(), nullptr);
  const win::DWORD windowThread = windows.GetWindowThreadProcessId(hWnd, nullptr);
  if (foregroundThread == windowThread) {
    windows.SetForegroundWindow(hWnd);
    return;
  }
  // No result is tested: a failing attach does not stop the request or the detach.
  windows.AttachThreadInput(foregroundThread, windowThread, win::TRUE);
  windows.SetForegroundWindow(hWnd);
  windows.AttachThreadInput(foregroundThread, windowThread, win::FALSE);
}

}  // namespace qv

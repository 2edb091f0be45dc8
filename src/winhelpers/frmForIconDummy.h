// frmForIconDummy: the hidden form that carries the program icon and gives the updater a window
// of its own at start-up (for the foreground activation). It is never shown.
#pragma once

#include "platform/handles.h"
#include "platform/seam.h"

namespace qv {

class frmForIconDummy {
 public:
  // Loads the form: creates its window (hidden), captioned "Form1", with icon group 1.
  frmForIconDummy(win::IWindows& windows, win::HINSTANCE hInstance);
  frmForIconDummy(const frmForIconDummy&) = delete;
  frmForIconDummy& operator=(const frmForIconDummy&) = delete;
  // Unloads the form if that was not done yet.
  ~frmForIconDummy() = default;

  win::HWND hWnd() const { return window_.get(); }
  // Destroys the form's window.
  void Unload() { window_.reset(); }

  static constexpr char16_t kCaption[] = u"Form1";
  static constexpr int kIconId = 1;

 private:
  win::UniqueWindow window_;
};

}  // namespace qv

#include "winhelpers/frmForIconDummy.h"

namespace qv {

frmForIconDummy::frmForIconDummy(win::IWindows& windows, win::HINSTANCE hInstance)
    : window_(windows, windows.CreateFormWindow(hInstance, kCaption, kIconId)) {}

}  // namespace qv

// The simulated machine's user32 and comctl32 side: windows, the foreground, icons, dialogs.
#include <algorithm>

#include "platform/sim/sim_areas.h"
#include "platform/sim/sim_ui_language.h"

namespace qv::sim {

namespace {

std::string Show(const char* s) { return s ? s : "(null)"; }

win::DWORD PlannedError(std::int64_t code, win::DWORD usual) {
  return code != 0 ? static_cast<win::DWORD>(code) : usual;
}

// Window classes and captions compare without regard to case, as FindWindowEx does.
bool SameText(const std::string& a, const char* b) { return FoldCase(a) == FoldCase(b); }

// The class of the program's own hidden form window.
constexpr const char* kFormClass = "QV3UpdateIconForm";
constexpr int kOwnIconId = 1;        // the program's one icon group
constexpr int kFirstSystemIcon = 32512;  // IDI_APPLICATION .. IDI_SHIELD
constexpr int kLastSystemIcon = 32518;

Text Copy(const win::WCHAR* s) { return s ? Text(s) : Text(); }

// A text field of a task dialog: a pointer to the text, or a resource number that Windows
// loads from hInstance; the simulation records the number as "#<n>".
Text CopyTextOrId(const win::WCHAR* s) {
  if (!s) return {};
  if (win::IS_INTRESOURCE(s))
    return u"#" + IntToText(static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(s)));
  return Text(s);
}

// Message box buttons by the MB_TYPEMASK part of the style, in the order they are shown.
std::vector<int> MessageBoxButtons(win::UINT type) {
  switch (type & 0xF) {
    case 1: return {win::IDOK, win::IDCANCEL};
    case 2: return {win::IDABORT, win::IDRETRY, win::IDIGNORE};
    case 3: return {win::IDYES, win::IDNO, win::IDCANCEL};
    case 4: return {win::IDYES, win::IDNO};
    case 5: return {win::IDRETRY, win::IDCANCEL};
    case 6: return {win::IDCANCEL, win::IDTRYAGAIN, win::IDCONTINUE};
    default: return {win::IDOK};
  }
}

// A task dialog's buttons as shown: own buttons first, then the common ones in Windows' order;
// OK alone when there are none.
std::vector<int> TaskDialogButtons(const DialogRecord& r) {
  std::vector<int> ids;
  for (const auto& b : r.buttons) ids.push_back(b.first);
  const std::pair<win::DWORD, int> common[] = {
      {win::TDCBF_OK_BUTTON, win::IDOK},         {win::TDCBF_YES_BUTTON, win::IDYES},
      {win::TDCBF_NO_BUTTON, win::IDNO},         {win::TDCBF_CANCEL_BUTTON, win::IDCANCEL},
      {win::TDCBF_RETRY_BUTTON, win::IDRETRY},   {win::TDCBF_CLOSE_BUTTON, win::IDCLOSE}};
  for (const auto& [flag, id] : common)
    if (r.dwCommonButtons & flag) ids.push_back(id);
  if (ids.empty()) ids.push_back(win::IDOK);
  return ids;
}

bool Has(const std::vector<int>& v, int id) { return std::find(v.begin(), v.end(), id) != v.end(); }

}  // namespace

const SimAreas::WindowEntry* SimAreas::Window(win::HWND hwnd) const {
  for (const WindowEntry& w : windows)
    if (w.hwnd == hwnd && w.alive) return &w;
  return nullptr;
}

SimAreas::WindowEntry* SimAreas::Window(win::HWND hwnd) {
  for (WindowEntry& w : windows)
    if (w.hwnd == hwnd && w.alive) return &w;
  return nullptr;
}

bool SimAreas::ThreadKnown(win::DWORD threadId) const {
  if (threadId == m.config_.threadId) return true;
  for (const WindowEntry& w : windows)
    if (w.alive && w.window.threadId == threadId) return true;
  return false;
}

// --- IWindows ----------------------------------------------------------------------------------

win::HWND SimAreas::FindWindowExA(win::HWND hWndParent, win::HWND hWndChildAfter,
                                  const char* lpszClass, const char* lpszWindow) {
  if (auto f = m.kernel_.Enter("FindWindowExA", Show(lpszClass) + " \"" + Show(lpszWindow) + "\"")) {
    Fail(PlannedError(*f, kErrorInvalidWindowHandle));
    return win::HWND{};
  }
  if (!win::IsNull(hWndParent) && !Window(hWndParent)) {
    Fail(kErrorInvalidWindowHandle);
    return win::HWND{};
  }
  // A class given as an atom (MAKEINTATOM) matches none of the simulated windows, which carry
  // class names only.
  if (lpszClass && win::IS_INTRESOURCE(lpszClass)) return win::HWND{};
  bool started = win::IsNull(hWndChildAfter);
  if (!started) {
    const WindowEntry* after = Window(hWndChildAfter);
    if (!after || after->window.parent != hWndParent) {
      Fail(kErrorInvalidWindowHandle);
      return win::HWND{};
    }
  }
  for (const WindowEntry& w : windows) {
    if (!w.alive || w.window.parent != hWndParent) continue;
    if (!started) {
      started = w.hwnd == hWndChildAfter;
      continue;
    }
    if (lpszClass && !SameText(w.window.className, lpszClass)) continue;
    if (lpszWindow && !SameText(w.window.caption, lpszWindow)) continue;
    return w.hwnd;
  }
  lastError = 2;  // ERROR_FILE_NOT_FOUND, as FindWindowEx reports no match
  return win::HWND{};
}

win::HWND SimAreas::GetForegroundWindow() {
  if (m.kernel_.Enter("GetForegroundWindow")) return win::HWND{};
  if (!win::IsNull(foreground) && !Window(foreground)) foreground = win::HWND{};
  return foreground;
}

win::DWORD SimAreas::GetWindowThreadProcessId(win::HWND hWnd, win::DWORD* lpdwProcessId) {
  if (auto f = m.kernel_.Enter("GetWindowThreadProcessId", std::to_string(win::HandleValue(hWnd)))) {
    Fail(PlannedError(*f, kErrorInvalidWindowHandle));
    return 0;
  }
  const WindowEntry* w = Window(hWnd);
  if (!w) {
    Fail(kErrorInvalidWindowHandle);
    return 0;
  }
  if (lpdwProcessId) *lpdwProcessId = w->window.processId;
  return w->window.threadId;
}

win::BOOL SimAreas::AttachThreadInput(win::DWORD idAttach, win::DWORD idAttachTo,
                                      win::BOOL fAttach) {
  const std::string call = "AttachThreadInput(" + std::to_string(idAttach) + "," +
                           std::to_string(idAttachTo) + "," + std::to_string(fAttach) + ")";
  const auto planned = m.kernel_.Enter("AttachThreadInput", call);
  m.foregroundLog_.push_back(call);  // every call, also one that fails
  if (planned) return Fail(PlannedError(*planned, win::ERROR_INVALID_PARAMETER));
  if (idAttach == 0 || idAttachTo == 0 || idAttach == idAttachTo || !ThreadKnown(idAttach) ||
      !ThreadKnown(idAttachTo))
    return Fail(win::ERROR_INVALID_PARAMETER);
  const auto pair = std::make_pair(idAttach, idAttachTo);
  if (fAttach) {
    attached.insert(pair);
    return win::TRUE;
  }
  if (attached.erase(pair) == 0) return Fail(win::ERROR_INVALID_PARAMETER);
  return win::TRUE;
}

win::BOOL SimAreas::SetForegroundWindow(win::HWND hWnd) {
  const std::string call = "SetForegroundWindow(" + std::to_string(win::HandleValue(hWnd)) + ")";
  const auto planned = m.kernel_.Enter("SetForegroundWindow", call);
  m.foregroundLog_.push_back(call);
  if (planned) return Fail(PlannedError(*planned, win::ERROR_ACCESS_DENIED));
  const WindowEntry* target = Window(hWnd);
  if (!target) return Fail(kErrorInvalidWindowHandle);
  // The foreground lock: the updater may take the foreground when there is none, when it owns
  // it, or while its thread's input is attached to the foreground thread.
  const WindowEntry* current = win::IsNull(foreground) ? nullptr : Window(foreground);
  const win::DWORD own = m.config_.threadId;
  bool allowed = current == nullptr || current->window.threadId == own;
  if (!allowed) {
    const win::DWORD fg = current->window.threadId;
    allowed = attached.count({fg, own}) || attached.count({own, fg});
  }
  if (!allowed) return win::FALSE;  // Windows flashes the taskbar button instead
  foreground = hWnd;
  return win::TRUE;
}

win::HWND SimAreas::CreateFormWindow(win::HINSTANCE hInstance, const win::WCHAR* caption,
                                     int iconId) {
  if (auto f = m.kernel_.Enter("CreateFormWindow", TextToUtf8(Copy(caption)))) {
    Fail(PlannedError(*f, win::ERROR_NOT_ENOUGH_MEMORY));
    return win::HWND{};
  }
  WindowEntry e;
  e.window.className = kFormClass;
  e.window.caption = codePage.ToAnsi(Copy(caption)).bytes();
  e.window.threadId = m.config_.threadId;
  e.window.processId = m.config_.processId;
  e.window.visible = false;
  e.window.iconId = (hInstance == module && iconId == kOwnIconId) ? iconId : 0;
  e.own = true;
  e.hwnd = win::MakeHandle<win::HWND>(
      m.kernel_.OpenHandle(HandleKind::Window, std::string(kFormClass) + " \"" + e.window.caption + "\""));
  windows.push_back(std::move(e));
  return windows.back().hwnd;
}

win::BOOL SimAreas::DestroyWindow(win::HWND hWnd) {
  if (auto f = m.kernel_.Enter("DestroyWindow", std::to_string(win::HandleValue(hWnd))))
    return Fail(PlannedError(*f, win::ERROR_ACCESS_DENIED));
  WindowEntry* w = Window(hWnd);
  if (!w) return Fail(kErrorInvalidWindowHandle);
  if (!w->own) return Fail(win::ERROR_ACCESS_DENIED);  // another thread's window
  // Its child windows go with it.
  for (WindowEntry& c : windows)
    if (c.alive && c.window.parent == hWnd) {
      c.alive = false;
      m.kernel_.Close(win::HandleValue(c.hwnd), HandleKind::Window);
    }
  w->alive = false;
  m.kernel_.Close(win::HandleValue(hWnd), HandleKind::Window);
  if (foreground == hWnd) foreground = win::HWND{};
  return win::TRUE;
}

win::HICON SimAreas::LoadIconW(win::HINSTANCE hInstance, const win::WCHAR* lpIconName) {
  const std::uintptr_t id = reinterpret_cast<std::uintptr_t>(lpIconName);
  const bool numbered = lpIconName && win::IS_INTRESOURCE(lpIconName);
  if (auto f = m.kernel_.Enter("LoadIconW", numbered ? "#" + std::to_string(id) : "name")) {
    Fail(PlannedError(*f, kErrorResourceNameNotFound));
    return win::HICON{};
  }
  if (numbered && hInstance == module && id == kOwnIconId)
    return win::MakeHandle<win::HICON>(m.kernel_.OpenHandle(HandleKind::Icon, "icon 1"));
  if (numbered && win::IsNull(hInstance) && id >= kFirstSystemIcon && id <= kLastSystemIcon)
    return win::MakeHandle<win::HICON>(m.kernel_.OpenHandle(
        HandleKind::Icon, "system icon " + std::to_string(id), /*closable=*/false));
  Fail(kErrorResourceNameNotFound);
  return win::HICON{};
}

win::BOOL SimAreas::DestroyIcon(win::HICON hIcon) {
  const std::uintptr_t h = win::HandleValue(hIcon);
  if (auto f = m.kernel_.Enter("DestroyIcon", std::to_string(h)))
    return Fail(PlannedError(*f, kErrorInvalidIconHandle));
  const HandleEntry* e = m.kernel_.Find(h);
  if (!e || e->kind != HandleKind::Icon) return Fail(kErrorInvalidIconHandle);
  if (e->closable) m.kernel_.Close(h, HandleKind::Icon);
  return win::TRUE;
}

// --- IDialogs ----------------------------------------------------------------------------------

void SimAreas::InitCommonControls() {
  m.kernel_.Enter("InitCommonControls");
  ++initCommonControls;
}

void SimAreas::ShowingDialog() {
  // While the run's first dialog waits for its answer, the user may act.
  if (dialogShown) return;
  dialogShown = true;
  RunUserWrites(UserMoment::DuringPrompt);
}

int SimAreas::MessageBoxW(win::HWND hWnd, const win::WCHAR* lpText, const win::WCHAR* lpCaption,
                          win::UINT uType) {
  DialogRecord r;
  r.kind = DialogRecord::Kind::MessageBox;
  r.owner = hWnd;
  r.text = Copy(lpText);
  r.caption = lpCaption ? Text(lpCaption) : DefaultMessageBoxCaption(m.config_.uiLanguage);
  r.type = uType;
  const auto planned = m.kernel_.Enter("MessageBoxW", TextToUtf8(r.caption));
  auto finish = [&](int result) {
    ShowingDialog();
    r.result = result;
    m.dialogs_.push_back(r);
    return result;
  };
  if (planned) {
    Fail(PlannedError(*planned, win::ERROR_NOT_ENOUGH_MEMORY));
    r.answer = Answer::CannotShow;
    return finish(0);
  }
  if (!win::IsNull(hWnd) && !Window(hWnd)) {
    Fail(kErrorInvalidWindowHandle);
    return finish(0);
  }
  if (!answers.empty()) {
    r.answer = answers.front();
    answers.pop_front();
  }
  const std::vector<int> buttons = MessageBoxButtons(uType);
  const std::size_t defIndex = (uType >> 8) & 0xF;  // MB_DEFBUTTON2 is 0x100, ...
  const int defaultButton = buttons[defIndex < buttons.size() ? defIndex : 0];
  const bool hasCancel = Has(buttons, win::IDCANCEL);
  switch (r.answer) {
    case Answer::CannotShow:
      Fail(win::ERROR_NOT_ENOUGH_MEMORY);
      return finish(0);
    case Answer::Confirm:
      return finish(defaultButton);
    case Answer::Cancel:
    case Answer::Escape:
    case Answer::CloseBox:
    case Answer::Close:
      // Escape and the close box give IDCANCEL where there is a Cancel button and IDOK on a lone
      // OK button; elsewhere they do nothing and the user ends up pressing the default button.
      if (hasCancel) return finish(win::IDCANCEL);
      if (buttons.size() == 1 && buttons[0] == win::IDOK) return finish(win::IDOK);
      return finish(defaultButton);
  }
  return finish(defaultButton);
}

win::HRESULT SimAreas::TaskDialogIndirect(const win::TASKDIALOGCONFIG* c, int* pnButton,
                                          int* pnRadioButton,
                                          win::BOOL* pfVerificationFlagChecked) {
  if (!m.taskDialogAvailable_) {
    // Without common controls 6 the function cannot be bound.
    m.kernel_.Enter("TaskDialogIndirect", "unavailable");
    return win::HRESULT_FROM_WIN32(static_cast<win::LONG>(kErrorProcNotFound));
  }
  DialogRecord r;
  r.kind = DialogRecord::Kind::TaskDialog;
  if (c) {
    r.cbSize = c->cbSize;
    r.hwndParent = c->hwndParent;
    r.hInstance = c->hInstance;
    r.dwFlags = c->dwFlags;
    r.dwCommonButtons = c->dwCommonButtons;
    r.windowTitle = CopyTextOrId(c->pszWindowTitle);
    r.mainIcon = (c->dwFlags & win::TDF_USE_HICON_MAIN) ? win::HandleValue(c->hMainIcon)
                                                        : reinterpret_cast<std::uintptr_t>(c->pszMainIcon);
    r.mainInstruction = CopyTextOrId(c->pszMainInstruction);
    r.content = CopyTextOrId(c->pszContent);
    for (win::UINT i = 0; c->pButtons && i < c->cButtons; ++i)
      r.buttons.emplace_back(c->pButtons[i].nButtonID, CopyTextOrId(c->pButtons[i].pszButtonText));
    r.nDefaultButton = c->nDefaultButton;
    r.cRadioButtons = c->cRadioButtons;
    r.nDefaultRadioButton = c->nDefaultRadioButton;
    r.hasVerificationText = c->pszVerificationText != nullptr;
    r.hasExpandedInformation = c->pszExpandedInformation != nullptr;
    r.hasExpandedControlText = c->pszExpandedControlText != nullptr;
    r.hasCollapsedControlText = c->pszCollapsedControlText != nullptr;
    r.footerIcon = (c->dwFlags & win::TDF_USE_HICON_FOOTER)
                       ? win::HandleValue(c->hFooterIcon)
                       : reinterpret_cast<std::uintptr_t>(c->pszFooterIcon);
    r.footer = CopyTextOrId(c->pszFooter);
    r.hasCallback = c->pfCallback != nullptr;
    r.lpCallbackData = c->lpCallbackData;
    r.cxWidth = c->cxWidth;
  }
  const auto planned = m.kernel_.Enter("TaskDialogIndirect", TextToUtf8(r.mainInstruction));
  auto finish = [&](win::HRESULT hr, int result) {
    ShowingDialog();
    r.hr = hr;
    r.result = result;
    m.dialogs_.push_back(r);
    return hr;
  };
  if (planned) {
    r.answer = Answer::CannotShow;
    return finish(*planned != 0 ? static_cast<win::HRESULT>(*planned) : win::E_FAIL, 0);
  }
  if (!c || c->cbSize != sizeof(win::TASKDIALOGCONFIG)) return finish(win::E_INVALIDARG, 0);
  if (!win::IsNull(c->hwndParent) && !Window(c->hwndParent)) return finish(win::E_INVALIDARG, 0);
  if (!answers.empty()) {
    r.answer = answers.front();
    answers.pop_front();
  }
  if (r.answer == Answer::CannotShow) return finish(win::E_FAIL, 0);

  const std::vector<int> ids = TaskDialogButtons(r);
  const int defaultButton = Has(ids, c->nDefaultButton) ? c->nDefaultButton : ids.front();
  const bool hasCancel = Has(ids, win::IDCANCEL);
  const bool cancellable = hasCancel || (c->dwFlags & win::TDF_ALLOW_DIALOG_CANCELLATION);

  int pressed = defaultButton;
  switch (r.answer) {
    case Answer::Confirm:
    case Answer::CannotShow:
      break;
    case Answer::Cancel:
      if (hasCancel) pressed = win::IDCANCEL;
      else if (cancellable) pressed = win::IDCANCEL;
      break;
    case Answer::Escape:
    case Answer::CloseBox:
      // Without a way to cancel, Escape does nothing and the close box is greyed out.
      if (cancellable) pressed = win::IDCANCEL;
      break;
    case Answer::Close:
      if (Has(ids, win::IDCLOSE)) pressed = win::IDCLOSE;
      else if (cancellable) pressed = win::IDCANCEL;
      break;
  }
  if (pnButton) *pnButton = pressed;
  if (pnRadioButton) {
    int radio = 0;
    if (c->pRadioButtons && c->cRadioButtons > 0) {
      radio = c->pRadioButtons[0].nButtonID;
      for (win::UINT i = 0; i < c->cRadioButtons; ++i)
        if (c->pRadioButtons[i].nButtonID == c->nDefaultRadioButton) radio = c->nDefaultRadioButton;
      if (c->dwFlags & 0x4000) radio = 0;  // TDF_NO_DEFAULT_RADIO_BUTTON
    }
    *pnRadioButton = radio;
  }
  if (pfVerificationFlagChecked)
    *pfVerificationFlagChecked = (c->dwFlags & 0x0100) ? win::TRUE : win::FALSE;  // TDF_VERIFICATION_FLAG_CHECKED
  return finish(win::S_OK, pressed);
}

std::vector<std::pair<int, Text>> ButtonsShown(const DialogRecord& dialog, win::LANGID language) {
  const bool messageBox = dialog.kind == DialogRecord::Kind::MessageBox;
  const std::vector<int> ids = messageBox ? MessageBoxButtons(dialog.type) : TaskDialogButtons(dialog);
  // A task dialog's own buttons come first, with the program's texts.
  const std::size_t own = messageBox ? 0 : dialog.buttons.size();
  std::vector<std::pair<int, Text>> shown;
  for (std::size_t i = 0; i < ids.size(); ++i)
    shown.emplace_back(ids[i], i < own ? dialog.buttons[i].second : WindowsButtonText(ids[i], language));
  return shown;
}

}  // namespace qv::sim

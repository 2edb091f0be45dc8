#include "update/quiet_dialogs.h"

namespace qv {

namespace {

// The button a task dialog's Enter would press: the default one, else its first own button,
// else its first common button in Windows' order.
int DefaultButton(const win::TASKDIALOGCONFIG& config) {
  if (config.nDefaultButton) return config.nDefaultButton;
  if (config.cButtons && config.pButtons) return config.pButtons[0].nButtonID;
  static constexpr std::pair<win::DWORD, int> kCommon[] = {
      {win::TDCBF_OK_BUTTON, win::IDOK},       {win::TDCBF_YES_BUTTON, win::IDYES},
      {win::TDCBF_NO_BUTTON, win::IDNO},       {win::TDCBF_CANCEL_BUTTON, win::IDCANCEL},
      {win::TDCBF_RETRY_BUTTON, win::IDRETRY}, {win::TDCBF_CLOSE_BUTTON, win::IDCLOSE}};
  for (const auto& [flag, id] : kCommon)
    if (config.dwCommonButtons & flag) return id;
  return win::IDOK;
}

Text ButtonName(int id) {
  switch (id) {
    case win::IDOK: return u"OK";
    case win::IDCANCEL: return u"Cancel";
    case win::IDYES: return u"Yes (6)";
    case win::IDNO: return u"No";
    case win::IDCLOSE: return u"Close";
    case 0: return u"none: the dialog could not be shown";
    default: return IntToText(id);
  }
}

Text OneLine(const win::WCHAR* text) {
  if (!text || win::IS_INTRESOURCE(text)) return Text();
  return ReplaceAll(ReplaceAll(text, u"\r\n", u" | "), u"\n", u" | ");
}

}  // namespace

int QuietDialogs::MessageBoxW(win::HWND, const win::WCHAR*, const win::WCHAR*, win::UINT) {
  // MB_OK and MB_OKCANCEL, the ones the updater shows, have OK as their first button.
  return win::IDOK;
}

win::HRESULT QuietDialogs::TaskDialogIndirect(const win::TASKDIALOGCONFIG* pTaskConfig,
                                              int* pnButton, int* pnRadioButton,
                                              win::BOOL* pfVerificationFlagChecked) {
  if (!pTaskConfig) return win::E_INVALIDARG;
  if (pnButton) *pnButton = DefaultButton(*pTaskConfig);
  if (pnRadioButton) *pnRadioButton = 0;
  if (pfVerificationFlagChecked) *pfVerificationFlagChecked = win::FALSE;
  return win::S_OK;
}

void LoggedDialogs::Log(const Text& kind, const win::WCHAR* title, const Text& text, int button) {
  log_.Line(u"Dialog (" + kind + (shown_ ? u"" : u", not shown: /quiet") + u"): \"" +
            OneLine(title) + u"\": " + text + u" -- " + (shown_ ? u"closed with " : u"taken as ") +
            ButtonName(button));
}

int LoggedDialogs::MessageBoxW(win::HWND hWnd, const win::WCHAR* lpText,
                               const win::WCHAR* lpCaption, win::UINT uType) {
  const int result = inner_.MessageBoxW(hWnd, lpText, lpCaption, uType);
  Log(u"message box", lpCaption, OneLine(lpText), result);
  return result;
}

win::HRESULT LoggedDialogs::TaskDialogIndirect(const win::TASKDIALOGCONFIG* pTaskConfig,
                                               int* pnButton, int* pnRadioButton,
                                               win::BOOL* pfVerificationFlagChecked) {
  int button = 0;
  const win::HRESULT hr =
      inner_.TaskDialogIndirect(pTaskConfig, &button, pnRadioButton, pfVerificationFlagChecked);
  if (pnButton) *pnButton = button;
  if (pTaskConfig) {
    Text text = OneLine(pTaskConfig->pszMainInstruction);
    if (pTaskConfig->pszContent) text += u" | " + OneLine(pTaskConfig->pszContent);
    if (pTaskConfig->pszFooter) text += u" | " + OneLine(pTaskConfig->pszFooter);
    Log(u"task dialog", pTaskConfig->pszWindowTitle, text, win::SUCCEEDED(hr) ? button : 0);
  }
  return hr;
}

}  // namespace qv

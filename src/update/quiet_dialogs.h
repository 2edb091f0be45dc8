// The dialogs of a run: without a window (/quiet), each is answered with its default button
// without being shown (so the close-programs prompt counts as confirmed); with a log, each is
// written to it with the button that closed it.
#pragma once

#include "platform/seam.h"
#include "update/run_log.h"

namespace qv {

// Shows nothing; answers each dialog as its default button would.
class QuietDialogs final : public win::IDialogs {
 public:
  void InitCommonControls() override {}
  int MessageBoxW(win::HWND hWnd, const win::WCHAR* lpText, const win::WCHAR* lpCaption,
                  win::UINT uType) override;
  win::HRESULT TaskDialogIndirect(const win::TASKDIALOGCONFIG* pTaskConfig, int* pnButton,
                                  int* pnRadioButton, win::BOOL* pfVerificationFlagChecked) override;
};

// Every dialog goes to `inner`; the log gets its title, its text and the button that closed it.
class LoggedDialogs final : public win::IDialogs {
 public:
  LoggedDialogs(win::IDialogs& inner, RunLog& log, bool shown) : inner_(inner), log_(log), shown_(shown) {}
  void InitCommonControls() override { inner_.InitCommonControls(); }
  int MessageBoxW(win::HWND hWnd, const win::WCHAR* lpText, const win::WCHAR* lpCaption,
                  win::UINT uType) override;
  win::HRESULT TaskDialogIndirect(const win::TASKDIALOGCONFIG* pTaskConfig, int* pnButton,
                                  int* pnRadioButton, win::BOOL* pfVerificationFlagChecked) override;

 private:
  void Log(const Text& kind, const win::WCHAR* title, const Text& text, int button);
  win::IDialogs& inner_;
  RunLog& log_;
  bool shown_;
};

}  // namespace qv

// The updater's window: a status line, a progress bar, OK and Cancel. It sets
// the update off by itself shortly after it is shown, on a thread of its own;
// OK runs it again after a failed download, Cancel ends the updater.
#pragma once

#include <memory>

#include "program_update.h"
#include "update_worker.h"
#include "update_platform_win.h"
#include "news_pace_win.h"
#include "program_dialog_win.h"

class CUpdateDlg : public CProgramDialog {
 public:
  explicit CUpdateDlg(CWnd* parent = nullptr);
  ~CUpdateDlg() override;

  DECLARE_MESSAGE_MAP()

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange() override;

  void OnShowWindow(WPARAM shown);
  void OnTimer(WPARAM id);
  void RunUpdate();
  void OnCancel() override;

  std::string m_strCurDir;   // the program folder, UTF-8
  std::string m_strNewFile;  // the downloaded program, UTF-8
  int m_nProgressMax;
  CButton m_btnCancel;       // 2
  CButton m_btnOK;           // 1
  CProgressCtrl m_progress;  // 1002
  CStatic m_stMessage;       // 1000

 private:
  void OnUpdateNews();
  // Shows what the update did since the last news.
  void TakeUpdateNews();

  NewsPace m_newsPace;
  bool m_bEndAsked = false;  // the window closes when the update has finished

  marlix::updater::Win32Processes m_processes;
  marlix::updater::SystemFiles m_files;
  marlix::updater::Win32ProgramVersions m_versions;
  marlix::updater::Win32Shell m_shell;
  std::unique_ptr<marlix::updater::ProgramUpdate> m_update;
  // After the update it runs: it ends its run before the update goes.
  marlix::updater::UpdateWorker m_worker;
};

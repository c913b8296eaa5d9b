// The search window of Marlix: a modal dialog with three modes (simple search,
// composite search, update) chosen by the tab at its top.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "background_update.h"
#include "data_download.h"
#include "mapped_file.h"
#include "news_pace_win.h"
#include "program_dialog_win.h"
#include "search_window.h"

class CSearchDlg : public CProgramDialog {
 public:
  explicit CSearchDlg(CWnd* parent = nullptr);

  BOOL PreTranslateMessage(MSG* msg) override;

  DECLARE_MESSAGE_MAP()

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange() override;
  void LayOutForDpi() override;

  void OnSearch();
  void OnSelchangeModeTab();
  void OnCopyPostCode();
  void OnSelchangeResultList();
  void OnCopyAddress();
  void OnCopyWholeLine();
  void OnCopyEnglish();
  void OnExit();
  void OnAlwaysOnTop();
  void OnDownload();
  void OnAbout();
  void OnAddressList();
  void OnSetfocusFirstTerm();
  void OnTimer(WPARAM id);
  void OnSetfocusSecondTerm();
  void OnDestroy();
  void OnOK() override;
  void OnCancel() override;
  void OnCancelUpdate();
  void OnUpdateNews();
  void OnVersionNews();

  // Starts the fetch of the server's data version for the update panel.
  void ShowDataVersion();

  CEdit m_edtSecondTerm;      // 1017
  CEdit m_edtDataVersion;     // 1013
  CButton m_grpUpdate;        // 1008
  CStatic m_stcUpdateStatus;  // 1010
  CButton m_btnUpdate;        // 1009
  CStatic m_stcBanner;        // 1006
  CListBox m_lstResult;       // 1004
  CEdit m_edtFirstTerm;       // 1003
  CButton m_btnSearch;        // 1001
  CTabCtrl m_tabMode;         // 1000
  CComboBox m_cboKind;        // 1002
  CButton m_btnCancelUpdate;          // 1020
  CProgressCtrl m_prgUpdate;          // 1021
  CStatic m_stcProgress;              // 1022
  CProgressCtrl m_prgSearchWaits;     // 1023

  int m_nCopyMode;
  UniqueBitmap m_hBannerBitmap;
  int m_nBannerFrame = 0;
  int m_nBannerShown = 0;      // the frame the banner shows
  UINT m_nResultRowHeight = 0;  // at the window's DPI

 private:
  void SearchOnce();
  void FillResults(marlix::MappedFile* file);
  void StartDataUpdate();
  void ShowTransfer(bool running);
  void TakeUpdateNews();
  void FinishDataUpdate(const marlix::DataUpdateOutcome& outcome);
  void CommitStagedSet();
  void RunWaitingSearch();
  void WaitForData();
  void EndWaitForData();
  void CloseWhenStopped(int result);
  void SetStatus(const char* text);
  void SwitchToHangul(CEdit& edit);
  // The window's own places at its DPI: those of the mode shown, the list to
  // the window's foot and rows as tall as their text.
  void Place(CWnd& control, const marlix::ControlRect& place);
  void ShowEmptiedOrHide(CWnd& control, const std::optional<marlix::ControlRect>& place);
  void PlaceResultList();
  void ShowBanner(const marlix::BannerStep& step);

  bool m_bSearching = false;    // a search is filling the list
  bool m_bSearchAgain = false;  // and another was asked for meanwhile
  unsigned m_nListFill = 0;     // moves on when anything takes the list from a fill

  // The data update runs on a thread of its own; its news comes as messages.
  std::unique_ptr<marlix::DataUpdateWorker> m_pUpdate;
  marlix::TransferPace m_pace;
  NewsPace m_newsPace;
  bool m_bCommitPending = false;     // a staged set waits for the search to end
  bool m_bSearchWaitsForData = false;  // the search runs once the data is in place
  bool m_bDataJustFetched = false;   // the search that follows; it fetches nothing again
  bool m_bClosing = false;           // the window goes once the update has stopped
  std::vector<std::string> m_localFailures;  // told when the update ends
  std::unique_ptr<marlix::DataVersionWorker> m_pVersionFetch;
  bool m_bVersionStatusWanted = false;  // no update has taken the status line since the fetch began
};

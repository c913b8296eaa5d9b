// The search window of Marlix: a modal dialog with three modes (simple search,
// composite search, update) chosen by the tab at its top.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "background_update.h"
#include "data_download.h"
#include "mapped_file.h"
#include "news_pace_win.h"
#include "program_dialog_win.h"
#include "search_window.h"
#include "search_worker.h"

class CSearchDlg : public CProgramDialog {
 public:
  explicit CSearchDlg(CWnd* parent = nullptr);

  BOOL PreTranslateMessage(MSG* msg) override;
  // In front with the term box focused and its text selected, so that
  // typing replaces the last term.
  void ShowReadyToType();

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
  void OnHotKeySetting();
  void OnSetfocusFirstTerm();
  void OnTimer(WPARAM id);
  void OnSetfocusSecondTerm();
  void OnDestroy();
  void OnOK() override;
  void OnCancel() override;
  void OnCancelUpdate();
  void OnUpdateNews();
  void OnVersionNews();
  void OnSearchNews();
  void OnChangeFirstTerm();
  void OnSelchangeKind();

  // Starts the fetch of the server's data version for the update panel.
  void ShowDataVersion();

  CEdit m_edtSecondTerm;           // 1017
  CEdit m_edtDataVersion;          // 1013
  CButton m_grpUpdate;             // 1008
  CStatic m_stcUpdateStatus;       // 1010
  CButton m_btnUpdate;             // 1009
  CStatic m_stcBanner;             // 1006
  CListBox m_lstResult;            // 1004
  CEdit m_edtFirstTerm;            // 1003
  CButton m_btnSearch;             // 1001
  CTabCtrl m_tabMode;              // 1000
  CComboBox m_cboKind;             // 1002
  CButton m_btnCancelUpdate;       // 1020
  CProgressCtrl m_prgUpdate;       // 1021
  CStatic m_stcProgress;           // 1022
  CProgressCtrl m_prgSearchWaits;  // 1023

  int m_nCopyMode;
  UniqueBitmap m_hBannerBitmap;
  int m_nBannerFrame = 0;
  int m_nBannerShown = 0;       // the frame the banner shows
  UINT m_nResultRowHeight = 0;  // at the window's DPI

 private:
  // Runs the search the window's boxes ask for; with `may_fetch`, a missing
  // data file is fetched first. A search the typing starts keeps the rows
  // shown until its own come, so that each key does not paint the list empty.
  void StartSearch(bool may_fetch, bool keep_rows = false);
  void RunSearch(const marlix::SearchJob& job, bool may_fetch, bool keep_rows = false);
  marlix::SearchJob JobFromWindow();
  void StopSearch();
  void FillFromSearch();
  void SearchAfterTypingPause();
  bool ComposingTerm() const;
  void FinishSearch(const marlix::SearchEnd& end);
  void ClearList();
  void StartDataUpdate();
  void ShowTransfer(bool running);
  void TakeUpdateNews();
  void FinishDataUpdate(const marlix::DataUpdateOutcome& outcome);
  bool CommitStagedSet();
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
  void TakeReplacedBanner(HBITMAP replaced);

  // The search runs on a thread of its own and hands its lines over in
  // batches; the list is filled from them a slice at a time.
  std::unique_ptr<marlix::SearchWorker> m_pSearch;
  std::optional<marlix::SearchJob> m_listedSearch;  // the search the list shows, run again on a new data set
  bool m_bSearchMayFetch = false;
  // Where each listed line's own bytes lie, by row; the rows after them are
  // the window's own (no data, the count of the unlisted).
  std::vector<std::pair<marlix::LineOffset, std::size_t>> m_linePlaces;
  std::uint64_t m_nSearchedSize = 0;
  int m_nWidestRow = 0;
  bool m_bListStale = false;  // the rows are an earlier search's, replaced when the new one lists

  // The data update runs on a thread of its own; its news comes as messages.
  std::unique_ptr<marlix::DataUpdateWorker> m_pUpdate;
  marlix::TransferPace m_pace;
  NewsPace m_newsPace;
  bool m_bSearchWaitsForData = false;  // the search runs once the data is in place
  bool m_bClosing = false;             // the window goes once the update has stopped
  int m_nCloseResult = IDCANCEL;
  std::vector<std::string> m_localFailures;  // told when the update ends
  std::unique_ptr<marlix::DataVersionWorker> m_pVersionFetch;
  bool m_bVersionStatusWanted = false;  // no update has taken the status line since the fetch began
};

// The search window of Marlix: a modal dialog with three modes (simple search,
// composite search, update) chosen by the tab at its top.
#pragma once

#include <cstdio>

#include "data_download.h"
#include "wnd_win.h"

class CSearchDlg : public CDialog {
 public:
  explicit CSearchDlg(CWnd* parent = nullptr);

  BOOL PreTranslateMessage(MSG* msg) override;

  static const MessageEntry kMessageEntries[];
  static const MessageMap kMessageMap;
  const MessageMap& GetMessageMap() const override { return kMessageMap; }

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange() override;

  void OnSysCommand(WPARAM id, LPARAM lParam);
  void OnPaint();
  HCURSOR OnQueryDragIcon();
  void OnSearch();
  void OnSelchangeModeTab();
  void OnCopyPostCode();
  void OnSelchangeResultList();
  void OnCopyAddress();
  void OnCopyWholeLine();
  void OnExit();
  void OnAlwaysOnTop();
  void OnDownload();
  void OnAbout();
  void OnSetfocusFirstTerm();
  void OnTimer();
  void OnSetfocusSecondTerm();
  void OnDestroy();

  // Shows the server's data version in the update panel.
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

  int m_nCopyMode;
  UniqueBitmap m_hBannerBitmap;
  int m_nBannerFrame = 0;
  HICON m_hIcon;  // shared resource icon: the system owns it

 private:
  void SearchOnce();
  void FillResults(std::FILE* file);
  marlix::DownloadResult DownloadDataFiles();
  void SetStatus(const char* text);
  void SwitchToHangul(CEdit& edit);

  bool m_bSearching = false;    // a search is filling the list
  bool m_bSearchAgain = false;  // and another was asked for meanwhile
  unsigned m_nListFill = 0;     // moves on when anything takes the list from a fill
};

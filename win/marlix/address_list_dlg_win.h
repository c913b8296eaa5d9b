// The window that converts many addresses at once, opened from the search
// window's 옵션 menu: a list pasted from Excel (a column, or whole rows), its
// conversion on a worker thread with a bar and 취소, a table of each row's
// code, address, English address and verdict, the candidates of a row that
// has several, and the table copied as Excel pastes it or saved as CSV.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "address_list_worker.h"
#include "program_dialog_win.h"

class CAddressListDlg : public CProgramDialog {
 public:
  explicit CAddressListDlg(CWnd* parent = nullptr);

  DECLARE_MESSAGE_MAP()

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange() override;
  // Enter outside the pasted list does not close the window.
  void OnOK() override {}
  // Escape, the close box and 닫기: a running conversion is cancelled.
  void OnCancel() override;
  // The table's columns keep their share of the window at a new DPI.
  void LayOutForDpi() override;

 private:
  void OnConvert();
  void OnStopConvert();
  void OnListNews();
  void OnCopyTable();
  void OnSaveTable();
  void OnSelchangeCandidates();
  // WM_NOTIFY's header comes in lParam.
  LRESULT OnGetDispInfo(WPARAM, LPARAM lParam);
  LRESULT OnCustomDraw(WPARAM, LPARAM lParam);
  void OnItemChanged();

  void ShowRunning(bool running);
  void ShowList(marlix::ConvertedList list);
  void ShowCandidates(int row);
  // The table with each row's fields and the four the conversion added:
  // tab-separated as Excel pastes it, or CSV as the converter writes it.
  std::string TableText(bool tab_separated) const;

  CEdit m_edtInput;
  CButton m_btnConvert;
  CButton m_btnStop;
  CProgressCtrl m_prgConvert;
  CStatic m_stcStatus;
  CWnd m_lstTable;
  UINT m_nColumnsDpi = 0;
  CListBox m_lstCandidates;
  CButton m_btnCopy;
  CButton m_btnSave;

  std::unique_ptr<marlix::AddressListWorker> m_pWorker;
  std::optional<marlix::ConvertedList> m_list;
  // The candidate the user picked for each row, if any.
  std::vector<std::optional<std::size_t>> m_chosen;
  int m_nCandidatesRow = -1;  // the row whose candidates are listed
};

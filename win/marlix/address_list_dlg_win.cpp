#include "address_list_dlg_win.h"

#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "address_list_ids.h"
#include "clipboard_text_win.h"
#include "data_download.h"
#include "data_files.h"
#include "data_folder.h"
#include "data_set.h"
#include "file_steps.h"
#include "file_stream.h"
#include "resource.h"
#include "text_format.h"

using namespace marlix;

namespace {
const std::string kDataFile = JoinPath(kDataFolder, kPostcodeFile);
// The worker's news, posted by its thread.
constexpr UINT kListNews = WM_APP + 1;

constexpr char kTextConverting[] = "변환하는 중입니다.";
constexpr char kTextCancelled[] = "변환을 취소했습니다.";
constexpr char kTextNothingPasted[] = "붙여 넣은 주소가 없습니다.";
constexpr char kTextNoDataFormat[] =
    "우편번호 자료(%s)를 읽을 수 없습니다. 검색 창의 우편번호 업데이트 탭에서 자료를 받아 주세요.";
constexpr char kTextDoneFormat[] = "%s행: 일치 %s, 후보 %s, 없음 %s (%s초)";
constexpr char kTextChosenFormat[] = "선택 (후보 %s)";
constexpr char kTextCannotWriteFormat[] = "%s 파일을 저장할 수 없습니다.";

// The table's columns: their headers and widths in dialog units.
struct Column {
  const char* title;
  int width;
};
constexpr Column kColumns[] = {{"입력", 100}, {"우편번호", 34}, {"도로명주소", 110}, {"영문주소", 92}, {"결과", 44}};

// The rows that are not 일치 stand out: none fits in red, several in blue,
// one the user picked in green.
constexpr COLORREF kNoneColour = RGB(192, 0, 0);
constexpr COLORREF kCandidatesColour = RGB(0, 64, 192);
constexpr COLORREF kChosenColour = RGB(0, 128, 0);

std::string Count(std::size_t n) { return std::to_string(n); }
}  // namespace

constexpr MessageEntry CAddressListDlg::kMessageEntries[] = {
    ControlRoute<&CAddressListDlg::OnConvert>(BN_CLICKED, IDC_LIST_CONVERT),
    ControlRoute<&CAddressListDlg::OnStopConvert>(BN_CLICKED, IDC_LIST_CANCEL),
    ControlRoute<&CAddressListDlg::OnCopyTable>(BN_CLICKED, IDC_LIST_COPY),
    ControlRoute<&CAddressListDlg::OnSaveTable>(BN_CLICKED, IDC_LIST_SAVE),
    ControlRoute<&CAddressListDlg::OnSelchangeCandidates>(LBN_SELCHANGE, IDC_LIST_CANDIDATES),
    NotifyRoute<&CAddressListDlg::OnGetDispInfo>(LVN_GETDISPINFOW, IDC_LIST_TABLE),
    NotifyRoute<&CAddressListDlg::OnCustomDraw>(NM_CUSTOMDRAW, IDC_LIST_TABLE),
    NotifyRoute<&CAddressListDlg::OnItemChanged>(LVN_ITEMCHANGED, IDC_LIST_TABLE),
    MessageRoute<&CAddressListDlg::OnListNews>(kListNews),
};
DEFINE_MESSAGE_MAP(CAddressListDlg, CProgramDialog)

CAddressListDlg::CAddressListDlg(CWnd* parent)
    : CProgramDialog(IDD_ADDRESS_LIST, {IDI_MARLIX, IDD_ABOUTBOX, IDS_ABOUTBOX, IDM_ABOUTBOX}, parent) {
  // The table is a list view, which the framework's dialogs do not need.
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&icc);
}

void CAddressListDlg::DoDataExchange() {
  BindControl(IDC_LIST_INPUT, m_edtInput);
  BindControl(IDC_LIST_CONVERT, m_btnConvert);
  BindControl(IDC_LIST_CANCEL, m_btnStop);
  BindControl(IDC_LIST_PROGRESS, m_prgConvert);
  BindControl(IDC_LIST_STATUS, m_stcStatus);
  BindControl(IDC_LIST_TABLE, m_lstTable);
  BindControl(IDC_LIST_CANDIDATES, m_lstCandidates);
  BindControl(IDC_LIST_COPY, m_btnCopy);
  BindControl(IDC_LIST_SAVE, m_btnSave);
}

void CAddressListDlg::LayOutForDpi() {
  const UINT old = std::exchange(m_nColumnsDpi, Dpi());
  if (old == 0 || old == m_nColumnsDpi) return;
  for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
    const auto width = static_cast<int>(m_lstTable.SendMessage(LVM_GETCOLUMNWIDTH, i));
    m_lstTable.SendMessage(LVM_SETCOLUMNWIDTH, i,
                           ::MulDiv(width, static_cast<int>(m_nColumnsDpi), static_cast<int>(old)));
  }
}

BOOL CAddressListDlg::OnInitDialog() {
  CProgramDialog::OnInitDialog();
  // A pasted list of many thousand rows is more than an edit box holds by default.
  m_edtInput.SendMessage(EM_SETLIMITTEXT, 0);
  m_prgConvert.SetRange(0, 1000);
  m_lstTable.SendMessage(LVM_SETUNICODEFORMAT, TRUE);
  m_lstTable.SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES,
                         LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
    RECT width{0, 0, kColumns[i].width, 0};
    ::MapDialogRect(m_hWnd, &width);
    std::wstring title = WideFromUtf8(kColumns[i].title);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = title.data();
    column.cx = width.right;
    column.iSubItem = i;
    m_lstTable.SendMessage(LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
  m_nColumnsDpi = Dpi();
  m_edtInput.SetFocus();
  return FALSE;  // the focus is set
}

// Reads the paste as it is now and converts it on a thread of its own; the
// table of an earlier conversion stays until this one ends.
void CAddressListDlg::OnConvert() {
  if (m_pWorker) return;
  std::string pasted = Utf8FromWide(m_edtInput.GetWindowTextW());
  if (pasted.find_first_not_of(" \t\r\n") == std::string::npos) {
    m_stcStatus.SetWindowText(kTextNothingPasted);
    return;
  }
  // A change of the data set that a kill left half done is finished first,
  // as a search does: the conversion reads one edition's files.
  RecoverDataSet(kDataFolder);
  HWND window = m_hWnd;
  m_pWorker = std::make_unique<AddressListWorker>(kDataFile, std::move(pasted),
                                                  [window] { ::PostMessageW(window, kListNews, 0, 0); });
  m_prgConvert.SetPos(0);
  m_stcStatus.SetWindowText(kTextConverting);
  ShowRunning(true);
}

void CAddressListDlg::OnStopConvert() {
  if (m_pWorker) m_pWorker->Stop();
}

void CAddressListDlg::ShowRunning(bool running) {
  m_btnConvert.EnableWindow(!running);
  m_btnStop.EnableWindow(running);
  const bool table = !running && m_list.has_value();
  m_btnCopy.EnableWindow(table);
  m_btnSave.EnableWindow(table);
  // The focus must not stay on a button that goes grey.
  if (running) {
    m_btnStop.SetFocus();
  } else if (::GetFocus() == nullptr || ::GetFocus() == m_btnStop.m_hWnd) {
    m_btnConvert.SetFocus();
  }
}

void CAddressListDlg::OnListNews() {
  if (!m_pWorker) return;  // from a conversion no longer wanted
  AddressListWorker::News news = m_pWorker->Take();
  if (news.done) m_prgConvert.SetPos(static_cast<int>(*news.done * 1000));
  if (!news.list) return;
  m_pWorker.reset();
  if (news.list->cancelled) {
    m_prgConvert.SetPos(0);
    m_stcStatus.SetWindowText(kTextCancelled);
  } else if (news.list->status != SearchStatus::kOk) {
    m_prgConvert.SetPos(0);
    m_stcStatus.SetWindowText(FormatText(kTextNoDataFormat, kDataFile));
  } else {
    ShowList(std::move(*news.list));
  }
  ShowRunning(false);
}

void CAddressListDlg::ShowList(ConvertedList list) {
  std::size_t counts[3] = {};
  for (const AddressResult& result : list.results) {
    ++counts[result.verdict == AddressVerdict::kMatch ? 0 : result.verdict == AddressVerdict::kCandidates ? 1 : 2];
  }
  char seconds[16];
  std::snprintf(seconds, sizeof seconds, "%.1f", list.seconds);
  m_list = std::move(list);
  m_chosen.assign(m_list->results.size(), std::nullopt);
  m_nCandidatesRow = -1;
  m_lstCandidates.ResetContent();
  m_lstTable.SendMessage(LVM_SETITEMCOUNT, m_list->results.size(), 0);
  ::InvalidateRect(m_lstTable.m_hWnd, nullptr, TRUE);
  m_prgConvert.SetPos(1000);
  m_stcStatus.SetWindowText(FormatText(kTextDoneFormat, Count(m_list->results.size()), Count(counts[0]),
                                       Count(counts[1]), Count(counts[2]), seconds));
}

// The table holds no texts of its own: it asks for each cell as it draws
// it, so that a list of many thousand rows is shown at once.
LRESULT CAddressListDlg::OnGetDispInfo(WPARAM, LPARAM lParam) {
  LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(lParam)->item;
  if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0 || !m_list || item.iItem < 0 ||
      static_cast<std::size_t>(item.iItem) >= m_list->results.size() || item.iSubItem < 0 ||
      item.iSubItem >= static_cast<int>(std::size(kColumns))) {
    return 0;
  }
  const auto row = static_cast<std::size_t>(item.iItem);
  std::string_view text;
  if (item.iSubItem > 0) {
    text = m_list->fields[row][static_cast<std::size_t>(item.iSubItem - 1)];
  } else if (const TableRow& input = m_list->rows[row + (m_list->column.header ? 1 : 0)];
             m_list->column.column < input.size()) {
    text = input[m_list->column.column];
  }
  // Into the control's buffer: Wine's list view takes the text only from there.
  ::lstrcpynW(item.pszText, WideFromUtf8(text).c_str(), item.cchTextMax);
  return 0;
}

LRESULT CAddressListDlg::OnCustomDraw(WPARAM, LPARAM lParam) {
  auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
  if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
  if (draw->nmcd.dwDrawStage != CDDS_ITEMPREPAINT || !m_list) return CDRF_DODEFAULT;
  const std::size_t row = draw->nmcd.dwItemSpec;
  if (row >= m_list->results.size()) return CDRF_DODEFAULT;
  const AddressVerdict verdict = m_list->results[row].verdict;
  if (verdict == AddressVerdict::kMatch) return CDRF_DODEFAULT;
  draw->clrText = verdict == AddressVerdict::kNone ? kNoneColour : m_chosen[row] ? kChosenColour : kCandidatesColour;
  return CDRF_NEWFONT;
}

void CAddressListDlg::OnItemChanged() {
  const int row = static_cast<int>(m_lstTable.SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (row != m_nCandidatesRow) ShowCandidates(row);
}

// The selected row's candidates, best first, the one the user picked selected.
void CAddressListDlg::ShowCandidates(int row) {
  m_nCandidatesRow = row;
  m_lstCandidates.ResetContent();
  if (!m_list || row < 0 || static_cast<std::size_t>(row) >= m_list->results.size()) return;
  const AddressResult& result = m_list->results[static_cast<std::size_t>(row)];
  int widest = 0;
  {
    WindowDC dc(m_lstCandidates.m_hWnd);
    const SelectedObject font(dc.get(), reinterpret_cast<HGDIOBJ>(m_lstCandidates.SendMessage(WM_GETFONT)));
    for (std::size_t i = 0; i < result.candidates.size(); ++i) {
      const std::wstring line = WideFromCp949(result.candidates[i].view());
      m_lstCandidates.InsertString(static_cast<int>(i), line.c_str());
      SIZE size{};
      if (::GetTextExtentPoint32W(dc.get(), line.data(), static_cast<int>(line.size()), &size)) {
        widest = std::max(widest, static_cast<int>(size.cx));
      }
    }
  }
  m_lstCandidates.SetHorizontalExtent(widest + 8);
  if (const std::optional<std::size_t>& chosen = m_chosen[static_cast<std::size_t>(row)]) {
    m_lstCandidates.SendMessage(LB_SETCURSEL, *chosen);
  }
}

// The pick is kept: the row takes that candidate's code and addresses, and
// its copy and file carry them.
void CAddressListDlg::OnSelchangeCandidates() {
  const int index = m_lstCandidates.GetCurSel();
  if (!m_list || index == LB_ERR || m_nCandidatesRow < 0 ||
      static_cast<std::size_t>(m_nCandidatesRow) >= m_list->results.size()) {
    return;
  }
  const auto row = static_cast<std::size_t>(m_nCandidatesRow);
  m_chosen[row] = static_cast<std::size_t>(index);
  const AddressResult& result = m_list->results[row];
  m_list->fields[row] = ResultFields(result, m_list->names, *m_chosen[row]);
  // The verdict says that a person chose among the candidates.
  m_list->fields[row][3] = FormatText(kTextChosenFormat, Count(result.codes));
  m_lstTable.SendMessage(LVM_REDRAWITEMS, row, static_cast<LPARAM>(row));
}

std::string CAddressListDlg::TableText(bool tab_separated) const {
  std::string text;
  if (!m_list) return text;
  auto append = [&](const TableRow& row) {
    if (tab_separated) {
      AppendTabRow(text, row, "\r\n");
    } else {
      AppendCsvRow(text, row, "\r\n");
    }
  };
  const std::size_t first = m_list->column.header ? 1 : 0;
  if (first == 1) {
    TableRow head = m_list->rows[0];
    head.insert(head.end(), kResultHeader.begin(), kResultHeader.end());
    append(head);
  }
  for (std::size_t row = 0; row < m_list->fields.size(); ++row) {
    TableRow out = m_list->rows[row + first];
    out.insert(out.end(), m_list->fields[row].begin(), m_list->fields[row].end());
    append(out);
  }
  return text;
}

void CAddressListDlg::OnCopyTable() {
  const std::string text = TableText(true);
  // A character that CP949 cannot hold is only in the Unicode text whole.
  PutTextOnClipboard(m_hWnd, Cp949FromUtf8(text).view(), WideFromUtf8(text));
}

// UTF-8 with a byte-order mark, which Excel opens as Korean.
void CAddressListDlg::OnSaveTable() {
  wchar_t path[MAX_PATH] = L"주소 변환.csv";
  const std::wstring filter = WideFromUtf8("CSV 파일 (*.csv)") + L'\0' + L"*.csv" + L'\0' + L'\0';
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = m_hWnd;
  dialog.lpstrFilter = filter.c_str();
  dialog.lpstrFile = path;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrDefExt = L"csv";
  dialog.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!::GetSaveFileNameW(&dialog)) return;
  const std::string csv = "\xEF\xBB\xBF" + TableText(false);
  const std::string name = Utf8FromWide(path);
  const FileStream out = OpenFileStream(name, "wb");
  if (!out || std::fwrite(csv.data(), 1, csv.size(), out.get()) != csv.size() || std::fflush(out.get()) != 0) {
    AfxMessageBox(m_hWnd, FormatText(kTextCannotWriteFormat, name), MB_OK | MB_ICONERROR);
  }
}

// The window goes at once: the conversion stops at its next step, which the
// worker's end waits for.
void CAddressListDlg::OnCancel() {
  m_pWorker.reset();
  EndDialog(IDCANCEL);
}

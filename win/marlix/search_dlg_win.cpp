#include "search_dlg_win.h"

#include <imm.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "address_list_dlg_win.h"
#include "address_terms.h"
#include "clipboard_text_win.h"
#include "code_names.h"
#include "copy_cut.h"
#include "data_download.h"
#include "data_files.h"
#include "data_folder.h"
#include "data_version.h"
#include "dpi_win.h"
#include "file_steps.h"
#include "hangul_mode.h"
#include "hot_key_win.h"
#include "postcode_search.h"
#include "resource.h"
#include "search_window.h"
#include "text_format.h"
#include "update_texts.h"

using namespace marlix;

namespace {
const std::string kDataFile = JoinPath(kDataFolder, kPostcodeFile);
constexpr UINT_PTR kBannerTimer = 1;
constexpr UINT kBannerPeriodMs = 5000;
// The workers' news, posted by their threads.
constexpr UINT kUpdateNews = WM_APP + 1;
constexpr UINT kVersionNews = WM_APP + 2;
constexpr UINT kSearchNews = WM_APP + 3;
// The update's news is taken at most this often; a fast transfer would
// otherwise keep the window repainting its bar.
constexpr UINT_PTR kNewsTimer = 2;
constexpr ULONGLONG kNewsPeriodMs = 50;
// A search's lines are listed a slice at a time, each slice within this
// time; the next one follows at once, or after the keys and the mouse when
// they wait (a message posted to itself would go before them).
constexpr UINT_PTR kFillTimer = 3;
constexpr ULONGLONG kFillSliceMs = 15;
constexpr std::size_t kFillTakeLines = 32;
constexpr UINT_PTR kTypingTimer = 4;
// Set on the window while a search runs or its lines wait to be listed, for
// the programs that drive the window from outside (the tests, the demo).
constexpr wchar_t kSearchingProperty[] = L"Marlix.Searching";

void ShowIf(CWnd& control, bool shown) { control.ShowWindow(shown ? SW_SHOW : SW_HIDE); }

// Rows added at the end of the result list with its redrawing held off, each
// measured in the list's own device context for the sideways scroll; the
// list is drawn again when the writer goes.
class RowWriter {
 public:
  RowWriter(CListBox& list, int& widest, UINT row_height)
      : list_(list), widest_(widest), row_height_(row_height), listed_(list.GetCount()) {
    list_.SendMessage(WM_SETREDRAW, FALSE);
    dc_.emplace(list_.m_hWnd);
  }
  ~RowWriter() {
    dc_.reset();
    list_.SendMessage(WM_SETREDRAW, TRUE);
    ::InvalidateRect(list_.m_hWnd, nullptr, FALSE);
  }
  RowWriter(const RowWriter&) = delete;
  RowWriter& operator=(const RowWriter&) = delete;

  void Reserve(std::size_t rows) {
    if (rows > 0) list_.InitStorage(static_cast<int>(rows), static_cast<UINT>(rows * 80));
  }
  void Add(const std::wstring& item) {
    if (listed_ == 0) list_.SetItemHeight(0, row_height_);
    list_.InsertString(listed_++, item.c_str());
    SIZE size{};
    if (::GetTextExtentPoint32W(dc_->get(), item.data(), static_cast<int>(item.size()), &size)) {
      widest_ = std::max(widest_, static_cast<int>(size.cx));
    }
  }

 private:
  CListBox& list_;
  int& widest_;
  UINT row_height_;
  int listed_;
  std::optional<WindowDC> dc_;
};
}  // namespace

constexpr MessageEntry CSearchDlg::kMessageEntries[] = {
    ControlRoute<&CSearchDlg::OnSearch>(BN_CLICKED, IDC_SEARCH),
    NotifyRoute<&CSearchDlg::OnSelchangeModeTab>(TCN_SELCHANGE, IDC_MODE_TAB),
    CommandRoute<&CSearchDlg::OnCopyPostCode>(ID_COPY_POSTCODE),
    ControlRoute<&CSearchDlg::OnSelchangeResultList>(LBN_SELCHANGE, IDC_RESULT_LIST),
    CommandRoute<&CSearchDlg::OnCopyAddress>(ID_COPY_ADDRESS),
    CommandRoute<&CSearchDlg::OnCopyWholeLine>(ID_COPY_WHOLE_LINE),
    CommandRoute<&CSearchDlg::OnCopyEnglish>(ID_COPY_ENGLISH),
    CommandRoute<&CSearchDlg::OnExit>(ID_EXIT),
    CommandRoute<&CSearchDlg::OnAlwaysOnTop>(ID_ALWAYS_ON_TOP),
    ControlRoute<&CSearchDlg::OnDownload>(BN_CLICKED, IDC_UPDATE),
    CommandRoute<&CSearchDlg::OnAbout>(ID_APP_ABOUT),
    CommandRoute<&CSearchDlg::OnAddressList>(ID_ADDRESS_LIST),
    CommandRoute<&CSearchDlg::OnHotKeySetting>(ID_HOT_KEY),
    ControlRoute<&CSearchDlg::OnSetfocusFirstTerm>(EN_SETFOCUS, IDC_FIRST_TERM),
    MessageRoute<&CSearchDlg::OnTimer>(WM_TIMER),
    ControlRoute<&CSearchDlg::OnSetfocusSecondTerm>(EN_SETFOCUS, IDC_SECOND_TERM),
    MessageRoute<&CSearchDlg::OnDestroy>(WM_DESTROY),
    ControlRoute<&CSearchDlg::OnCancelUpdate>(BN_CLICKED, IDC_UPDATE_CANCEL),
    MessageRoute<&CSearchDlg::OnUpdateNews>(kUpdateNews),
    MessageRoute<&CSearchDlg::OnVersionNews>(kVersionNews),
    MessageRoute<&CSearchDlg::OnSearchNews>(kSearchNews),
    ControlRoute<&CSearchDlg::OnChangeFirstTerm>(EN_CHANGE, IDC_FIRST_TERM),
    ControlRoute<&CSearchDlg::OnSelchangeKind>(CBN_SELCHANGE, IDC_KIND_COMBO),
};
DEFINE_MESSAGE_MAP(CSearchDlg, CProgramDialog)

// Until the user picks a copy command, a selected line copies its postal code.
CSearchDlg::CSearchDlg(CWnd* parent)
    : CProgramDialog(IDD_SEARCH, {IDI_MARLIX, IDD_ABOUTBOX, IDS_ABOUTBOX, IDM_ABOUTBOX}, parent),
      m_nCopyMode(kCopyPostcode),
      m_newsPace(kNewsTimer, kNewsPeriodMs) {}

void CSearchDlg::DoDataExchange() {
  BindControl(IDC_SECOND_TERM, m_edtSecondTerm);
  BindControl(IDC_DATA_VERSION, m_edtDataVersion);
  BindControl(IDC_UPDATE_GROUP, m_grpUpdate);
  BindControl(IDC_UPDATE_STATUS, m_stcUpdateStatus);
  BindControl(IDC_UPDATE, m_btnUpdate);
  BindControl(IDC_BANNER, m_stcBanner);
  BindControl(IDC_RESULT_LIST, m_lstResult);
  BindControl(IDC_FIRST_TERM, m_edtFirstTerm);
  BindControl(IDC_SEARCH, m_btnSearch);
  BindControl(IDC_MODE_TAB, m_tabMode);
  BindControl(IDC_KIND_COMBO, m_cboKind);
  BindControl(IDC_UPDATE_CANCEL, m_btnCancelUpdate);
  BindControl(IDC_UPDATE_PROGRESS, m_prgUpdate);
  BindControl(IDC_UPDATE_PROGRESS_TEXT, m_stcProgress);
  BindControl(IDC_SEARCH_PROGRESS, m_prgSearchWaits);
}

BOOL CSearchDlg::OnInitDialog() {
  CProgramDialog::OnInitDialog();
  SetWindowText(MARLIX_SEARCH_TITLE);

  m_tabMode.InsertItem(0, "우편번호 검색");
  m_tabMode.InsertItem(1, "우편번호 복합 검색");
  m_tabMode.InsertItem(2, "우편번호 업데이트");
  m_tabMode.SetCurSel(0);
  m_nBannerFrame = 0;

  const ModeLayout simple = *LayoutForMode(0);
  for (std::string_view item : simple.combo_items) m_cboKind.AddString(item.data());
  Place(m_edtSecondTerm, kSecondTermStartPlace);
  LayOutForDpi();
  for (CProgressCtrl* bar : {&m_prgUpdate, &m_prgSearchWaits}) bar->SetRange(0, 1000);

  m_cboKind.SetCurSel(0);
  SetTimer(kBannerTimer, kBannerPeriodMs);
  m_edtFirstTerm.SetFocus();
  return FALSE;  // the focus is set
}

// The places are given at 96 DPI and scaled to the window's; the template's
// own controls (the update panel) the dialog manager made at that DPI. The
// tab, the list and the banner go across the window, whatever its size.
void CSearchDlg::LayOutForDpi() {
  const UINT dpi = Dpi();
  const int width = GetClientRect().right;
  m_tabMode.MoveWindow(0, ScaleToDpi(kModeTabTop, dpi), width, ScaleToDpi(kModeTabHeight, dpi), FALSE);
  if (const std::optional<ModeLayout> layout = LayoutForMode(m_tabMode.GetCurSel())) {
    if (layout->combo) Place(m_cboKind, *layout->combo);
    if (layout->first_term) Place(m_edtFirstTerm, *layout->first_term);
    if (layout->second_term) Place(m_edtSecondTerm, *layout->second_term);
  }
  Place(m_stcUpdateStatus, kStatusLinePlace);
  Place(m_btnSearch, kSearchButtonPlace);
  Place(m_btnUpdate, kUpdateButtonPlace);
  m_nResultRowHeight = static_cast<UINT>(std::max(ScaleToDpi(kResultItemHeight, dpi), TextHeight(m_lstResult.m_hWnd)));
  m_lstResult.SetItemHeight(0, m_nResultRowHeight);
  PlaceResultList();
  ShowBanner(StepBanner(m_nBannerShown, dpi));
}

void CSearchDlg::Place(CWnd& control, const ControlRect& place) {
  const UINT dpi = Dpi();
  control.MoveWindow(ScaleToDpi(place.x, dpi), ScaleToDpi(place.y, dpi), ScaleToDpi(place.width, dpi),
                     ScaleToDpi(place.height, dpi), TRUE);
}

// Shows a control emptied at its place in this mode, or hides it.
void CSearchDlg::ShowEmptiedOrHide(CWnd& control, const std::optional<ControlRect>& place) {
  if (!place) {
    control.ShowWindow(SW_HIDE);
    return;
  }
  Place(control, *place);
  control.SetWindowText("");
  control.ShowWindow(SW_SHOW);
}

// A search that waits for the data shows the transfer's bar above the list.
void CSearchDlg::PlaceResultList() {
  const UINT dpi = Dpi();
  const RECT client = GetClientRect();
  const int top = ScaleToDpi(kResultListTop, dpi);
  const int bar = ScaleToDpi(kSearchProgressHeight, dpi);
  m_prgSearchWaits.MoveWindow(0, top, client.right, bar, FALSE);
  const int list_top = m_bSearchWaitsForData ? top + bar : top;
  m_lstResult.MoveWindow(0, list_top, client.right, std::max(0, static_cast<int>(client.bottom) - list_top), TRUE);
}

BOOL CSearchDlg::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_TAB) &&
      ::GetParent(msg->hwnd) == m_hWnd) {
    const RoutedKey key = msg->wParam == VK_RETURN ? RoutedKey::kEnter : RoutedKey::kTab;
    const KeyRoute route = RouteKey(key, ::GetDlgCtrlID(msg->hwnd), m_tabMode.GetCurSel());
    switch (route.action) {
      case KeyAction::kPassOn:
        break;
      case KeyAction::kSwallow:
        return TRUE;
      case KeyAction::kSearch:
        OnSearch();
        return TRUE;
      case KeyAction::kCopySelection:
        OnSelchangeResultList();
        return TRUE;
      case KeyAction::kMoveFocus:
        ::SetFocus(GetDlgItem(route.focus_id));
        return TRUE;
    }
  }
  return CDialog::PreTranslateMessage(msg);
}

void CSearchDlg::OnSelchangeModeTab() {
  // A search still running ends with the list it was filling; one waiting
  // for the data gives up the list (the transfer goes on).
  StopSearch();
  m_listedSearch.reset();
  EndWaitForData();
  // An answer for the panel left before it arrived is not wanted.
  m_pVersionFetch.reset();
  const int tab = m_tabMode.GetCurSel();
  m_cboKind.ResetContent();
  ClearList();
  m_lstResult.SetHorizontalExtent(0);

  const std::optional<ModeLayout> layout = LayoutForMode(tab);
  if (!layout) {
    RedrawNow();
    return;
  }
  if (layout->focus_first_term) m_edtFirstTerm.SetFocus();
  // The combo stays out of sight while the rest changes and is shown last.
  m_cboKind.ShowWindow(SW_HIDE);
  ShowEmptiedOrHide(m_edtFirstTerm, layout->first_term);
  ShowEmptiedOrHide(m_edtSecondTerm, layout->second_term);
  ShowIf(m_btnSearch, layout->search_shown);
  ShowIf(m_lstResult, layout->search_shown);
  for (CWnd* panel :
       {static_cast<CWnd*>(&m_grpUpdate), static_cast<CWnd*>(&m_btnUpdate), static_cast<CWnd*>(&m_stcUpdateStatus),
        static_cast<CWnd*>(&m_edtDataVersion), static_cast<CWnd*>(&m_btnCancelUpdate), static_cast<CWnd*>(&m_prgUpdate),
        static_cast<CWnd*>(&m_stcProgress)}) {
    ShowIf(*panel, layout->update_panel_shown);
  }
  if (layout->combo) {
    for (std::string_view item : layout->combo_items) m_cboKind.AddString(item.data());
    m_cboKind.SetCurSel(0);
    Place(m_cboKind, *layout->combo);
    m_cboKind.ShowWindow(SW_SHOW);
  }
  if (layout->fetch_data_version) ShowDataVersion();
  // The emptied term is nothing typed.
  ::KillTimer(m_hWnd, kTypingTimer);
  RedrawNow();
}

void CSearchDlg::OnSearch() {
  ::KillTimer(m_hWnd, kTypingTimer);
  StartSearch(true);
}

// Where the tab searches as the user types, a key stops the search running
// at once and the next one starts after a pause.
void CSearchDlg::OnChangeFirstTerm() {
  if (!SearchesAsYouType(m_tabMode.GetCurSel())) return;
  StopSearch();
  SetTimer(kTypingTimer, kTypingPauseMs);
}

void CSearchDlg::OnSelchangeKind() { OnChangeFirstTerm(); }

void CSearchDlg::SearchAfterTypingPause() {
  ::KillTimer(m_hWnd, kTypingTimer);
  switch (AfterTypingPause(m_tabMode.GetCurSel(), m_edtFirstTerm.GetWindowTextUtf8(), ComposingTerm())) {
    case TypingAction::kNone:
      break;
    case TypingAction::kWait:
      SetTimer(kTypingTimer, kTypingPauseMs);
      break;
    case TypingAction::kClear:
      StopSearch();
      m_listedSearch.reset();
      ClearList();
      break;
    case TypingAction::kSearch:
      StartSearch(true, true);
      break;
  }
}

// The input method holds a syllable that is not yet committed to the term.
bool CSearchDlg::ComposingTerm() const {
  const ImeContext context(m_edtFirstTerm.m_hWnd);
  return context && ::ImmGetCompositionStringW(context.get(), GCS_COMPSTR, nullptr, 0) > 0;
}

// A new search replaces the one running, which stops within a block of the file.
void CSearchDlg::StartSearch(bool may_fetch, bool keep_rows) {
  const SearchJob job = JobFromWindow();
  RunSearch(job, may_fetch, keep_rows);
}

void CSearchDlg::RunSearch(const SearchJob& job, bool may_fetch, bool keep_rows) {
  StopSearch();
  m_listedSearch = job;
  m_bSearchMayFetch = may_fetch;
  // A change of the set that a kill (or a file held open) left half done is
  // finished first: the search reads one edition's files.
  RecoverDataSet(kDataFolder);
  if (keep_rows) {
    m_bListStale = true;
  } else {
    ClearList();
  }
  HWND window = m_hWnd;
  m_pSearch = std::make_unique<SearchWorker>(job, [window] { ::PostMessageW(window, kSearchNews, 0, 0); });
  ::SetPropW(m_hWnd, kSearchingProperty, reinterpret_cast<HANDLE>(1));
}

void CSearchDlg::StopSearch() {
  m_pSearch.reset();
  ::KillTimer(m_hWnd, kFillTimer);
  ::RemovePropW(m_hWnd, kSearchingProperty);
}

SearchJob CSearchDlg::JobFromWindow() {
  SearchJob job;
  bool held1 = true, held2 = true;
  // The terms are searched for in the data, so they are taken as its CP949 bytes.
  job.term1 = m_edtFirstTerm.GetCp949WindowText(kTermMaxBytes, &held1);
  job.term2 = m_edtSecondTerm.GetCp949WindowText(kTermMaxBytes, &held2);
  const int tab = m_tabMode.GetCurSel();
  job.data_file = kDataFile;
  job.rule = RequestFromWindow(tab, m_cboKind.GetWindowTextUtf8(), job.term1.view(), job.term2.view()).rule;
  // A term with a character that CP949 cannot hold is in no line of the data.
  job.finds_nothing = !held1 || (tab != 0 && !held2);
  return job;
}

void CSearchDlg::OnSearchNews() { FillFromSearch(); }

// Lists the lines found so far in list order, at most kMostListed of them
// (the search counts the rest), for one slice of time with redrawing held
// off; what is left waits for the next slice.
void CSearchDlg::FillFromSearch() {
  if (!m_pSearch) return;
  ::KillTimer(m_hWnd, kFillTimer);
  const ULONGLONG slice_end = ::GetTickCount64() + kFillSliceMs;
  std::optional<SearchEnd> end;
  {
    if (std::exchange(m_bListStale, false)) ClearList();
    RowWriter rows(m_lstResult, m_nWidestRow, m_nResultRowHeight);
    do {
      SearchWorker::News news = m_pSearch->Take(kFillTakeLines);
      m_nSearchedSize = news.file_size;
      rows.Reserve(news.lines.size());
      for (const FoundLine& line : news.lines) {
        rows.Add(WideFromCp949(line.text.view()));
        m_linePlaces.emplace_back(line.offset, line.length);
      }
      end = news.end;
    } while (!end && m_pSearch->HasMore() && ::GetTickCount64() < slice_end);
  }
  if (end) {
    FinishSearch(*end);
  } else if (m_pSearch->HasMore()) {
    if (HIWORD(::GetQueueStatus(QS_INPUT)) != 0) {
      SetTimer(kFillTimer, USER_TIMER_MINIMUM);
    } else {
      ::PostMessageW(m_hWnd, kSearchNews, 0, 0);
    }
  }
}

// After the lines, a row that tells how many more matched; a search without
// a match shows the no-data rows, one without a data file fetches it first.
void CSearchDlg::FinishSearch(const SearchEnd& end) {
  StopSearch();
  if (std::exchange(m_bListStale, false)) ClearList();
  if (end.data_missing && m_bSearchMayFetch) {
    WaitForData();
    return;
  }
  if (!end.failure.empty()) {
    AfxMessageBox(m_hWnd, end.failure, MB_OK | MB_ICONERROR);
    return;
  }
  if (const std::optional<std::string> row = UnlistedRow(end.matches)) {
    RowWriter(m_lstResult, m_nWidestRow, m_nResultRowHeight).Add(WideFromUtf8(*row));
  }
  if (end.matches == 0) {
    m_lstResult.InsertString(0, kNoDataRows[0].data());
    m_lstResult.InsertString(1, kNoDataRows[1].data());
  } else {
    m_lstResult.SetHorizontalExtent(HorizontalExtentFor(m_nWidestRow));
  }
  // The list paints its own background under its rows.
  ::InvalidateRect(m_lstResult.m_hWnd, nullptr, FALSE);
}

void CSearchDlg::ClearList() {
  m_bListStale = false;
  m_lstResult.ResetContent();
  m_linePlaces.clear();
  m_nWidestRow = 0;
}

void CSearchDlg::OnCopyPostCode() { m_nCopyMode = kCopyPostcode; }
void CSearchDlg::OnCopyAddress() { m_nCopyMode = kCopyAddress; }
void CSearchDlg::OnCopyWholeLine() { m_nCopyMode = kCopyWholeLine; }
void CSearchDlg::OnCopyEnglish() { m_nCopyMode = kCopyEnglish; }

// The selected line, cut by the copy mode, goes to the clipboard as the CP949
// bytes (what Korean-code-page programs read), as UTF-16 and marked Korean, so
// that a program on any system pastes it right. A clipboard held by another
// program is left alone; the next selection tries again. The English address
// reads post.csv at each copy, so a data set put in place since is seen.
void CSearchDlg::OnSelchangeResultList() {
  const int index = m_lstResult.GetCurSel();
  if (index == LB_ERR) return;
  // A line of the data copies from its own bytes in the file; the window's
  // own rows (no data, the count of the unlisted) copy an empty text.
  std::optional<Cp949String> bytes;
  Cp949View line;
  if (static_cast<std::size_t>(index) < m_linePlaces.size()) {
    const auto [offset, length] = m_linePlaces[static_cast<std::size_t>(index)];
    bytes = ReadFoundLine(kDataFile, m_nSearchedSize, offset, length);
    if (!bytes) return;
    line = Cp949View(WithoutHalfCharacterAtEnd(bytes->bytes()));
  }
  const Cp949String text =
      TextForCopy(line, m_nCopyMode, m_nCopyMode == kCopyEnglish ? CodeNames::Beside(kDataFile) : CodeNames());
  PutTextOnClipboard(m_hWnd, text.view(), WideFromCp949(text.view()));
}

void CSearchDlg::OnExit() { CloseWhenStopped(ID_EXIT); }

// Not a toggle: the window stays topmost until it closes.
void CSearchDlg::OnAlwaysOnTop() { SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE); }

void CSearchDlg::OnAbout() { ShowAboutBox(); }

void CSearchDlg::OnAddressList() {
  CAddressListDlg list(this);
  list.DoModal();
}

void CSearchDlg::OnHotKeySetting() {
  CHotKeyDlg dialog(this);
  dialog.DoModal();
}

void CSearchDlg::ShowReadyToType() {
  if (m_bClosing) return;
  if (::IsIconic(m_hWnd)) ShowWindow(SW_RESTORE);
  ::SetForegroundWindow(m_hWnd);
  // The simple tab and the composite one have the term box; the update tab shows none.
  if (!::IsWindowVisible(m_edtFirstTerm.m_hWnd)) return;
  m_edtFirstTerm.SetFocus();
  m_edtFirstTerm.SendMessage(EM_SETSEL, 0, -1);
}

void CSearchDlg::OnDownload() { StartDataUpdate(); }

// Fetches what changed of the data into c:\postcode's work folder on a thread
// of its own, its steps in the status line and its bytes in the bar, and puts
// the new set in place on this thread once it is whole. Searches read the old
// set until then; a failed or cancelled update leaves it as it was.
void CSearchDlg::StartDataUpdate() {
  if (m_pUpdate) return;
  m_pace = TransferPace{};
  // The update's steps take the status line from here on.
  m_bVersionStatusWanted = false;
  HWND window = m_hWnd;
  m_pUpdate = std::make_unique<DataUpdateWorker>(ServiceAccess{}, AfxGetAppName(), kDataFolder,
                                                 [window] { ::PostMessageW(window, kUpdateNews, 0, 0); });
  ShowTransfer(true);
}

void CSearchDlg::ShowTransfer(bool running) {
  m_btnUpdate.EnableWindow(!running);
  m_btnCancelUpdate.EnableWindow(running);
  if (running) {
    for (CProgressCtrl* bar : {&m_prgUpdate, &m_prgSearchWaits}) bar->SetPos(0);
    m_stcProgress.SetWindowText("");
  }
}

// The transfer stops at its next block and keeps what arrived; the status
// line says so when the worker has ended.
void CSearchDlg::OnCancelUpdate() {
  if (m_pUpdate) m_pUpdate->Stop();
}

void CSearchDlg::OnUpdateNews() {
  if (m_newsPace.Due(m_hWnd)) TakeUpdateNews();
}

void CSearchDlg::TakeUpdateNews() {
  if (!m_pUpdate) return;
  DataUpdateWorker::News news = m_pUpdate->Take();
  if (news.status) SetStatus(news.status->c_str());
  if (news.progressed) {
    m_pace.Note(news.done, news.total, ::GetTickCount64());
    const std::string text = m_pace.Text();
    for (CProgressCtrl* bar : {&m_prgUpdate, &m_prgSearchWaits}) bar->SetPos(m_pace.Permille());
    m_stcProgress.SetWindowText(text);
    if (m_bSearchWaitsForData) {
      ClearList();
      m_lstResult.InsertString(0, kFetchingDataRow);
      m_lstResult.InsertString(1, "  " + text);
    }
  }
  // A local failure ends the update: its message boxes come with the outcome.
  for (std::string& message : news.local_failures) m_localFailures.push_back(std::move(message));
  if (news.outcome) FinishDataUpdate(*news.outcome);
}

// Whatever the update ends with is told and done before 업데이트 can be
// pressed again.
void CSearchDlg::FinishDataUpdate(const DataUpdateOutcome& outcome) {
  m_pUpdate.reset();
  const std::vector<std::string> failures = std::exchange(m_localFailures, {});
  // A whole set goes in place even when the window is closing (it takes
  // milliseconds); what arrived of a stopped one waits for the next try.
  if (!m_bClosing) {
    for (const std::string& message : failures) AfxMessageBox(message.c_str(), MB_OK | MB_ICONERROR);
  }
  // A search reading the old set holds its file, which Windows does not let
  // go while it is open: it stops, and runs again on the new set, as does a
  // list of the old set's lines, whose places are the old file's.
  bool committed = false;
  if (outcome.staged) {
    StopSearch();
    committed = CommitStagedSet();
  }
  ShowTransfer(false);
  if (m_bClosing) {
    EndDialog(m_nCloseResult);
    return;
  }
  // Or the files came one by one, or the server's edition was ours already.
  const bool data_in_place = committed || outcome.result == DownloadResult::kComplete;
  if (!m_bSearchWaitsForData) {
    if (committed && m_listedSearch) RunSearch(*m_listedSearch, false);
    return;
  }
  EndWaitForData();
  if (data_in_place && m_listedSearch) {
    RunSearch(*m_listedSearch, false);
    return;
  }
  ClearList();
  // A data file that cannot be written ends the search with its message box;
  // any other failure leaves a list that says there is no data.
  if (outcome.result != DownloadResult::kLocalFileFailure) {
    m_lstResult.InsertString(0, kNoDataRows[0].data());
    m_lstResult.InsertString(1, kNoDataRows[1].data());
  }
}

// The status says the download is complete only here, once the set is in place.
bool CSearchDlg::CommitStagedSet() {
  std::string error;
  if (CommitDataSet(kDataFolder, error)) {
    m_prgUpdate.SetPos(1000);
    SetStatus(kTextDownloadDone);
    return true;
  }
  if (!m_bClosing) {
    // The marker stays: the next update, search or start finishes the change.
    AfxMessageBox(FormatText(kTextCannotSaveFormat, kDataFolder, error).c_str(), MB_OK | MB_ICONERROR);
  }
  return false;
}

// A search that finds no data file waits for the data: the bar above the
// list and a row in it tell how the transfer goes.
void CSearchDlg::WaitForData() {
  ClearList();
  m_lstResult.InsertString(0, kFetchingDataRow);
  if (!m_bSearchWaitsForData) {
    m_bSearchWaitsForData = true;
    PlaceResultList();
    m_prgSearchWaits.ShowWindow(SW_SHOW);
  }
  StartDataUpdate();
}

void CSearchDlg::EndWaitForData() {
  if (!std::exchange(m_bSearchWaitsForData, false)) return;
  m_prgSearchWaits.ShowWindow(SW_HIDE);
  PlaceResultList();
}

void CSearchDlg::OnOK() { CloseWhenStopped(IDOK); }
void CSearchDlg::OnCancel() { CloseWhenStopped(IDCANCEL); }

// A running search stops at once. The window goes once a running update has
// stopped, so that the data set is left as it was and what arrived is kept
// whole for the next try: it is out of sight meanwhile and goes on answering
// (a stalled connection holds the update until its time-out), and the
// update's end closes it.
void CSearchDlg::CloseWhenStopped(int result) {
  if (m_bClosing) return;
  m_bClosing = true;
  m_nCloseResult = result;
  m_pVersionFetch.reset();
  ::KillTimer(m_hWnd, kTypingTimer);
  StopSearch();
  if (m_pUpdate) {
    m_pUpdate->Stop();
    ShowWindow(SW_HIDE);
    return;
  }
  EndDialog(result);
}

// Fetches the server's data-version file on a thread of its own; the text box
// is filled when it arrives.
void CSearchDlg::ShowDataVersion() {
  m_edtDataVersion.SetWindowText("");
  m_bVersionStatusWanted = !m_pUpdate;
  HWND window = m_hWnd;
  m_pVersionFetch =
      std::make_unique<DataVersionWorker>(ServiceAccess{}, [window] { ::PostMessageW(window, kVersionNews, 0, 0); });
}

void CSearchDlg::OnVersionNews() {
  if (!m_pVersionFetch) return;  // from a fetch no longer wanted
  DataVersionWorker::News news = m_pVersionFetch->Take();
  // A running or ended update's steps matter more than the version's.
  if (news.status && m_bVersionStatusWanted) SetStatus(news.status->c_str());
  if (news.version) {
    // The server's version file is CP949, as the data is.
    if (news.version->fetched) m_edtDataVersion.SetWindowText(WideFromCp949(news.version->text.view()).c_str());
    // The line under the bar tells the editions while no transfer needs it.
    if (!m_pUpdate) m_stcProgress.SetWindowText(EditionsText(LocalManifest(kDataFolder), news.manifest).c_str());
    m_pVersionFetch.reset();
  }
}

void CSearchDlg::SetStatus(const char* text) {
  m_stcUpdateStatus.SetWindowText(text);
  ::UpdateWindow(m_hWnd);
}

void CSearchDlg::OnSetfocusFirstTerm() { SwitchToHangul(m_edtFirstTerm); }
void CSearchDlg::OnSetfocusSecondTerm() { SwitchToHangul(m_edtSecondTerm); }

// Search terms are mostly Korean: a field that gets the focus turns plain
// alphanumeric input into Hangul input, and selects its old term so that
// typing replaces it.
void CSearchDlg::SwitchToHangul(CEdit& edit) {
  if (const ImeContext context(m_hWnd); context) {
    DWORD conversion = 0;
    DWORD sentence = 0;
    const BOOL read = ::ImmGetConversionStatus(context.get(), &conversion, &sentence);
    if (const auto mode = HangulModeOnFocus(read != FALSE, conversion)) {
      ::ImmSetConversionStatus(context.get(), *mode, sentence);
    }
  }
  edit.SendMessage(EM_SETSEL, 0, -1);
  edit.SendMessage(EM_SCROLLCARET);
}

// Steps the banner to its next frame.
void CSearchDlg::OnTimer(WPARAM id) {
  if (id == kFillTimer) {
    FillFromSearch();
    return;
  }
  if (id == kTypingTimer) {
    SearchAfterTypingPause();
    return;
  }
  if (m_newsPace.IsDueTimer(m_hWnd, id)) {
    TakeUpdateNews();
    return;
  }
  const BannerStep step = StepBanner(m_nBannerFrame, Dpi());
  m_nBannerFrame = step.next_counter;
  ShowBanner(step);
  RedrawNow();
  Default();
}

// The frame is loaded afresh each time, drawn for the window's DPI, and the
// one it replaces is released, so hours of ticks hold one bitmap.
void CSearchDlg::ShowBanner(const BannerStep& step) {
  m_nBannerShown = step.frame;
  UniqueBitmap next;
  if (step.bitmap_id) {
    const UINT dpi = Dpi();
    next = BitmapOfSize(static_cast<UINT>(step.bitmap_id), ::MulDiv(kBannerWidth, static_cast<int>(dpi), 96),
                        ::MulDiv(kBannerHeight, static_cast<int>(dpi), 96));
  }
  // The replaced image is ours (an earlier frame) or the one the template
  // loaded; either way nothing else will release it.
  TakeReplacedBanner(m_stcBanner.SetBitmap(next.get()));
  m_hBannerBitmap = std::move(next);
}

// The image the control gave back is owned here, unless it is the frame
// m_hBannerBitmap owns already.
void CSearchDlg::TakeReplacedBanner(HBITMAP replaced) {
  if (replaced == m_hBannerBitmap.get()) return;
  const UniqueBitmap owned(replaced);
}

// The banner's image goes with the window. The first frame, which the template
// loaded, is still in the control when the window closes before its first
// step, and the control does not release it: a window opened and closed from
// the icon again and again would leave a bitmap behind each time.
void CSearchDlg::OnDestroy() {
  StopSearch();
  TakeReplacedBanner(m_stcBanner.SetBitmap(nullptr));
  m_hBannerBitmap.reset();
  Default();
}

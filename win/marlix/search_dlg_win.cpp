#include "search_dlg_win.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include <imm.h>

#include <cstring>

#include "address_list_dlg_win.h"
#include "address_terms.h"
#include "clipboard_text_win.h"
#include "code_names.h"
#include "copy_cut.h"
#include "data_download.h"
#include "data_files.h"
#include "data_version.h"
#include "dpi_win.h"
#include "hangul_mode.h"
#include "local_files.h"
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
// The update's news is taken at most this often; a fast transfer would
// otherwise keep the window repainting its bar.
constexpr UINT_PTR kNewsTimer = 2;
constexpr ULONGLONG kNewsPeriodMs = 50;

void ShowIf(CWnd& control, bool shown) { control.ShowWindow(shown ? SW_SHOW : SW_HIDE); }
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
    ControlRoute<&CSearchDlg::OnSetfocusFirstTerm>(EN_SETFOCUS, IDC_FIRST_TERM),
    MessageRoute<&CSearchDlg::OnTimer>(WM_TIMER),
    ControlRoute<&CSearchDlg::OnSetfocusSecondTerm>(EN_SETFOCUS, IDC_SECOND_TERM),
    MessageRoute<&CSearchDlg::OnDestroy>(WM_DESTROY),
    ControlRoute<&CSearchDlg::OnCancelUpdate>(BN_CLICKED, IDC_UPDATE_CANCEL),
    MessageRoute<&CSearchDlg::OnUpdateNews>(kUpdateNews),
    MessageRoute<&CSearchDlg::OnVersionNews>(kVersionNews),
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
  SetWindowText("우편번호 검색 및 다운로드 프로그램");

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
  m_nResultRowHeight = static_cast<UINT>(
      std::max(ScaleToDpi(kResultItemHeight, dpi), TextHeight(m_lstResult.m_hWnd)));
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
      case KeyAction::kPassOn: break;
      case KeyAction::kSwallow: return TRUE;
      case KeyAction::kSearch: OnSearch(); return TRUE;
      case KeyAction::kCopySelection: OnSelchangeResultList(); return TRUE;
      case KeyAction::kMoveFocus: ::SetFocus(GetDlgItem(route.focus_id)); return TRUE;
    }
  }
  return CDialog::PreTranslateMessage(msg);
}

void CSearchDlg::OnSelchangeModeTab() {
  // A search still running ends with the list it was filling; one waiting
  // for the data gives up the list (the transfer goes on).
  ++m_nListFill;
  m_bSearchAgain = false;
  EndWaitForData();
  // An answer for the panel left before it arrived is not wanted.
  m_pVersionFetch.reset();
  const int tab = m_tabMode.GetCurSel();
  m_cboKind.ResetContent();
  m_lstResult.ResetContent();
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
  for (CWnd* panel : {static_cast<CWnd*>(&m_grpUpdate), static_cast<CWnd*>(&m_btnUpdate),
                      static_cast<CWnd*>(&m_stcUpdateStatus), static_cast<CWnd*>(&m_edtDataVersion),
                      static_cast<CWnd*>(&m_btnCancelUpdate), static_cast<CWnd*>(&m_prgUpdate),
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
  RedrawNow();
}

// A search asked for while one runs (its steps hand on the window's messages)
// replaces it: the running one gives way at its next step and the new one
// starts in its place, never inside it, so searches cannot pile up.
void CSearchDlg::OnSearch() {
  if (m_bSearching) {
    m_bSearchAgain = true;
    ++m_nListFill;
    return;
  }
  m_bSearching = true;
  do {
    m_bSearchAgain = false;
    SearchOnce();
  } while (m_bSearchAgain && !ModalEnding());
  m_bSearching = false;
  // The set arrived while the search read the old one, which Windows does
  // not let go while it is open; it goes in even when the window is closing.
  if (std::exchange(m_bCommitPending, false)) {
    CommitStagedSet();
    RunWaitingSearch();
  }
}

void CSearchDlg::SearchOnce() {
  // A change of the set that a kill (or a file held open) left half done is
  // finished first: the search reads one edition's files.
  RecoverDataSet(kDataFolder);
  // Mapped for this search only: the file is let go as soon as it ends.
  MappedFile file(kDataFile.c_str());
  if (file.open_error() != 0 && !m_bDataJustFetched) {
    WaitForData();
    return;
  }
  m_lstResult.ResetContent();
  // A file that still cannot be opened is never read: the list says there is no data.
  FillResults(file.open_error() == 0 ? &file : nullptr);
}

// Lists the matching lines in file order, at most kMostListed of them and then
// a row that tells how many more matched, and sets the sideways scroll to the
// widest row. Redrawing is held off while the list fills, which keeps a long
// result to a fraction of a second. Every step the list is drawn and the
// window takes its waiting messages, so that it answers throughout; a new
// search, another tab or the window's end takes the list from this fill,
// which then stops and touches nothing more.
void CSearchDlg::FillResults(MappedFile* file) {
  char term1[kTermMaxBytes + 1] = {};
  char term2[kTermMaxBytes + 1] = {};
  bool held1 = true, held2 = true;
  // The terms are searched for in the data, so they are taken as its CP949 bytes.
  m_edtFirstTerm.GetCp949WindowText(term1, sizeof term1, &held1);
  m_edtSecondTerm.GetCp949WindowText(term2, sizeof term2, &held2);
  const std::string kind = m_cboKind.GetWindowTextUtf8();
  const int tab = m_tabMode.GetCurSel();
  SearchRequest request = RequestFromWindow(tab, kind, Cp949View(term1), Cp949View(term2));
  // post.csv beside the data gives the English names and 행정동 a name search
  // may need, and the sign that lets a code search look its code up.
  CodeNames names;
  if (request.rule == MatchRule::kPostcode || (request.rule == MatchRule::kWords && WordsNeedNames(request.term1))) {
    names = CodeNames::Beside(kDataFile);
  }
  request.names = &names;
  request.sorted = file != nullptr && request.rule == MatchRule::kPostcode && names.TrustsOrderOf(file->size());
  request.five_digit_only = file != nullptr && names.TrustsAllFiveDigit(file->size());
  // A term with a character that CP949 cannot hold is in no line of the data.
  if (!held1 || (tab != 0 && !held2)) file = nullptr;
  const unsigned fill = ++m_nListFill;

  std::size_t matches = 0;
  int listed = 0;
  int widest = 0;
  if (file) {
    // Room for the rows up front: a line of the data is some 40 bytes.
    const long long rows = static_cast<long long>(std::min<std::uint64_t>(file->size() / 40, kMostListed + 1));
    if (rows > 0) m_lstResult.InitStorage(static_cast<int>(rows), static_cast<UINT>(rows * 40));
    m_lstResult.SendMessage(WM_SETREDRAW, FALSE);
    // The rows are measured in the list's own device context, taken for one step at a time.
    std::optional<WindowDC> dc(std::in_place, m_lstResult.m_hWnd);
    std::wstring item;
    auto list_row = [&](std::wstring text) {
      item = std::move(text);
      if (listed == 0) m_lstResult.SetItemHeight(0, m_nResultRowHeight);
      m_lstResult.InsertString(listed++, item.c_str());
      SIZE size{};
      if (::GetTextExtentPoint32W(dc->get(), item.data(), static_cast<int>(item.size()), &size)) {
        widest = std::max(widest, static_cast<int>(size.cx));
      }
    };
    SearchSteps steps(::GetTickCount64());
    bool overtaken = false;
    auto step = [&]() -> bool {
      if (!steps.Due(::GetTickCount64())) return true;
      dc.reset();
      m_lstResult.SendMessage(WM_SETREDRAW, TRUE);
      ::InvalidateRect(m_lstResult.m_hWnd, nullptr, FALSE);
      while (fill == m_nListFill && PumpMessage()) {
      }
      if (ModalEnding() || fill != m_nListFill) {
        overtaken = true;
        return false;
      }
      m_lstResult.SendMessage(WM_SETREDRAW, FALSE);
      dc.emplace(m_lstResult.m_hWnd);
      steps.Begin(::GetTickCount64());
      return true;
    };
    // Lines past the cut are only counted; the steps between blocks pace them.
    auto add = [&](std::string_view line) -> bool {
      if (matches++ >= kMostListed) return true;
      list_row(WideFromCp949(WithoutHalfCharacterAtEnd(line)));
      return step();
    };
    const BlockHook between_blocks(step);
    SearchFile(*file, request, add, &between_blocks);
    if (overtaken) return;
    if (const std::optional<std::string> row = UnlistedRow(matches)) list_row(WideFromUtf8(*row));
    dc.reset();
    m_lstResult.SendMessage(WM_SETREDRAW, TRUE);
  }
  if (matches == 0) {
    m_lstResult.InsertString(0, kNoDataRows[0].data());
    m_lstResult.InsertString(1, kNoDataRows[1].data());
  } else {
    m_lstResult.SetHorizontalExtent(HorizontalExtentFor(widest));
  }
  ::InvalidateRect(m_lstResult.m_hWnd, nullptr, TRUE);
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
  // The row is a line of the data: its CP949 bytes again, for the copy's cut.
  const std::string line = Cp949FromWide(m_lstResult.GetTextW(index));
  const std::string text =
      TextForCopy(line, m_nCopyMode, m_nCopyMode == kCopyEnglish ? CodeNames::Beside(kDataFile) : CodeNames());
  PutTextOnClipboard(m_hWnd, text, WideFromCp949(text));
}

void CSearchDlg::OnExit() { CloseWhenStopped(ID_EXIT); }

// Not a toggle: the window stays topmost until it closes.
void CSearchDlg::OnAlwaysOnTop() { SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE); }

void CSearchDlg::OnAbout() { ShowAboutBox(); }

void CSearchDlg::OnAddressList() {
  CAddressListDlg list(this);
  list.DoModal();
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
      m_lstResult.ResetContent();
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
  if (outcome.staged) {
    if (m_bSearching) {
      m_bCommitPending = true;
    } else {
      CommitStagedSet();
    }
  }
  ShowTransfer(false);
  if (m_bClosing || !m_bSearchWaitsForData || m_bCommitPending || ModalEnding()) return;
  // A staged set is in place now, or the files came one by one, or the
  // server's edition was ours already.
  if (outcome.staged || outcome.result == DownloadResult::kComplete) {
    RunWaitingSearch();
    return;
  }
  EndWaitForData();
  m_lstResult.ResetContent();
  // A data file that cannot be written ends the search with its message box;
  // any other failure leaves a list that says there is no data.
  if (outcome.result != DownloadResult::kLocalFileFailure) {
    m_lstResult.InsertString(0, kNoDataRows[0].data());
    m_lstResult.InsertString(1, kNoDataRows[1].data());
  }
}

// The status says the download is complete only here, once the set is in place.
void CSearchDlg::CommitStagedSet() {
  std::string error;
  if (CommitDataSet(kDataFolder, error)) {
    m_prgUpdate.SetPos(1000);
    SetStatus(kTextDownloadDone);
  } else if (!m_bClosing) {
    // The marker stays: the next update, search or start finishes the change.
    AfxMessageBox(FormatText(kTextCannotSaveFormat, kDataFolder, error).c_str(), MB_OK | MB_ICONERROR);
  }
}

void CSearchDlg::RunWaitingSearch() {
  if (!m_bSearchWaitsForData || ModalEnding()) return;
  EndWaitForData();
  m_bDataJustFetched = true;
  OnSearch();
  m_bDataJustFetched = false;
}

// A search that finds no data file waits for the data: the bar above the
// list and a row in it tell how the transfer goes.
void CSearchDlg::WaitForData() {
  m_lstResult.ResetContent();
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

// The window goes once a running update has stopped, so that the data set is
// left as it was and what arrived is kept whole for the next try. It is out
// of sight meanwhile and goes on answering: a stalled connection holds the
// worker until its time-out.
void CSearchDlg::CloseWhenStopped(int result) {
  if (m_bClosing) return;
  m_bClosing = true;
  m_pVersionFetch.reset();
  if (m_pUpdate) {
    m_pUpdate->Stop();
    ShowWindow(SW_HIDE);
    while (m_pUpdate && !ModalEnding()) {
      if (!PumpMessage()) ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
  }
  EndDialog(result);
}

// Fetches the server's data-version file on a thread of its own; the text box
// is filled when it arrives.
void CSearchDlg::ShowDataVersion() {
  m_edtDataVersion.SetWindowText("");
  m_bVersionStatusWanted = !m_pUpdate;
  HWND window = m_hWnd;
  m_pVersionFetch = std::make_unique<DataVersionWorker>(ServiceAccess{},
                                                        [window] { ::PostMessageW(window, kVersionNews, 0, 0); });
}

void CSearchDlg::OnVersionNews() {
  if (!m_pVersionFetch) return;  // from a fetch no longer wanted
  DataVersionWorker::News news = m_pVersionFetch->Take();
  // A running or ended update's steps matter more than the version's.
  if (news.status && m_bVersionStatusWanted) SetStatus(news.status->c_str());
  if (news.version) {
    // The server's version file is CP949, as the data is.
    if (news.version->fetched) m_edtDataVersion.SetWindowText(WideFromCp949(news.version->text).c_str());
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
  if (HIMC context = ::ImmGetContext(m_hWnd)) {
    DWORD conversion = 0;
    DWORD sentence = 0;
    const BOOL read = ::ImmGetConversionStatus(context, &conversion, &sentence);
    if (const auto mode = HangulModeOnFocus(read != FALSE, conversion)) {
      ::ImmSetConversionStatus(context, *mode, sentence);
    }
    ::ImmReleaseContext(m_hWnd, context);
  }
  edit.SendMessage(EM_SETSEL, 0, -1);
  edit.SendMessage(EM_SCROLLCARET);
}

// Steps the banner to its next frame.
void CSearchDlg::OnTimer(WPARAM id) {
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
  const HBITMAP replaced = m_stcBanner.SetBitmap(next.get());
  // The replaced image is ours (an earlier frame) or the one the template
  // loaded; either way nothing else will release it.
  if (replaced && replaced != m_hBannerBitmap.get()) ::DeleteObject(replaced);
  m_hBannerBitmap = std::move(next);
}

// The banner's image goes with the window. The first frame, which the template
// loaded, is still in the control when the window closes before its first
// step, and the control does not release it: a window opened and closed from
// the icon again and again would leave a bitmap behind each time.
void CSearchDlg::OnDestroy() {
  const HBITMAP shown = m_stcBanner.SetBitmap(nullptr);
  if (shown && shown != m_hBannerBitmap.get()) ::DeleteObject(shown);
  m_hBannerBitmap.reset();
  Default();
}

// What a user of the real Marlix.exe and MarlixUpd.exe sees when the service
// or the disk fails them, and what is on disk afterwards, row by row against
// the host's test service server. The rule every row checks: nothing is lost,
// the old data files keep their bytes and the old program still starts. Each
// group also writes its rows as Markdown; fault-table.md beside this test
// joins them, so the table that is reported is what the programs did.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "marlix_driver_win.h"
#include "resource.h"
#include "test_server_win.h"
#include "data_download.h"
#include "text_format.h"
#include "update_texts.h"
#include "program_manifest.h"
#include "updater_driver_win.h"
#include "updater_resource.h"
#include "updater_texts.h"

namespace {

using namespace marlix_test;
namespace upd = marlix::updater;

const std::string kTableDir = WinePath(MARLIX_TEST_BIN_DIR "/tests/win/fault-table");
const std::string kWorkDir = WinePath((kScratchDir + "/fault-table").c_str());
// Twice the programs' 10 s time-outs: a wait that ends near 10 s was ended by
// the time-out, not by the answer.
constexpr DWORD kTimeoutDelayMs = 20000;

// The table is UTF-8, as the program's texts and this file's literals are.
const std::string kUpdateButton = "업데이트";

double SecondsSince(ULONGLONG start) { return static_cast<double>(::GetTickCount64() - start) / 1000; }

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", s);
  return text;
}

// One line of the table; texts in UTF-8.
struct Row {
  std::string fault;
  std::string sees;
  std::string disk;
  double seconds = 0;
  bool held = true;  // every check of the row passed
};

std::string Cell(std::string text) {
  std::string out;
  for (char c : text) {
    if (c == '|') {
      out += "\\|";
    } else if (c == '\n') {
      out += "<br>";
    } else if (c != '\r') {
      out += c;
    }
  }
  return out;
}

std::vector<std::string> FilesIn(const std::string& dir, const char* pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE find = ::FindFirstFileA((dir + "\\" + pattern).c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (::FindNextFileA(find, &found));
  ::FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

// Writes one group's rows, then joins every group written so far into
// fault-table.md, in the order of their file names.
void WriteSection(const std::string& file, const std::string& title, const std::vector<Row>& rows) {
  ::CreateDirectoryA(kTableDir.c_str(), nullptr);
  std::string md = "### " + title + "\n\n| fault | what the user sees | on disk afterwards | time | nothing lost |\n" +
                   "|---|---|---|---|---|\n";
  for (const Row& row : rows) {
    md += "| " + Cell(row.fault) + " | " + Cell(row.sees) + " | " + Cell(row.disk) + " | " + Seconds(row.seconds) +
          " | " + (row.held ? "yes" : "**NO**") + " |\n";
  }
  WriteBytes(kTableDir + "\\" + file, md + "\n");
  std::string all = "## Fault table: Marlix.exe and MarlixUpd.exe under Wine against the test server\n\n";
  for (const std::string& name : FilesIn(kTableDir, "*.md")) all += ReadBytes(kTableDir + "\\" + name);
  WriteBytes(kTableDir + ".md", all);
}

void ClearFaults(const std::string& base) {
  CInternetSession session("test");
  session.OpenURL(base + "/_control/clear")->Close();
}

// A socket listening on a free port of the loopback address, and its URL.
SOCKET LoopbackListener(int backlog, sockaddr_in& address, std::string& url) {
  WSADATA wsa;
  ::WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, backlog) != 0) {
    ADD_FAILURE() << "no listener on the loopback address: error " << ::WSAGetLastError();
  }
  int size = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
  url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  return listener;
}

// A service that accepts each connection and closes it without a word, as a
// server that dies under its requests does.
class HangUpServer {
 public:
  HangUpServer() {
    listener_ = LoopbackListener(16, address_, url_);
    thread_ = std::thread([this] {
      while (!stop_) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(listener_, &ready);
        timeval wait{0, 50000};
        if (::select(0, &ready, nullptr, nullptr, &wait) != 1) continue;
        SOCKET client = ::accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) continue;
        char request[512];
        ::recv(client, request, sizeof request, 0);
        ::closesocket(client);
      }
    });
  }
  ~HangUpServer() {
    stop_ = true;
    thread_.join();
    ::closesocket(listener_);
    ::WSACleanup();
  }
  const std::string& url() const { return url_; }

 private:
  sockaddr_in address_;
  SOCKET listener_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::string url_;
};

// A server whose machine never answers a connect, as one that is down behind
// a firewall: a listener that accepts nothing, its queue full, so that the
// system drops every further connection attempt unanswered.
class SilentServer {
 public:
  SilentServer() {
    listener_ = LoopbackListener(1, address_, url_);
    for (int i = 0; i < 8; ++i) {
      SOCKET filler = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
      u_long non_blocking = 1;
      ::ioctlsocket(filler, FIONBIO, &non_blocking);
      // Non-blocking: it reports "would block" and connects in the background.
      (void)::connect(filler, reinterpret_cast<sockaddr*>(&address_), sizeof address_);
      fillers_.push_back(filler);
    }
    // The last of them must still wait: else the queue was never full.
    fd_set connected;
    FD_ZERO(&connected);
    FD_SET(fillers_.back(), &connected);
    timeval wait{1, 0};
    silent_ = ::select(0, nullptr, &connected, nullptr, &wait) == 0;
  }
  ~SilentServer() {
    for (SOCKET filler : fillers_) ::closesocket(filler);
    ::closesocket(listener_);
    ::WSACleanup();
  }
  bool silent() const { return silent_; }
  const std::string& url() const { return url_; }

 private:
  sockaddr_in address_;
  SOCKET listener_;
  std::vector<SOCKET> fillers_;
  bool silent_ = false;
  std::string url_;
};

// A folder nobody may change, root included: the file system's immutable flag
// (chattr +i). Wine runs as root here, and root writes through both a Unix
// chmod and the Windows read-only attribute (Wine maps that to the mode bits);
// the immutable flag refuses every file created, renamed or deleted in the
// folder, which Wine reports as access denied, as Windows does for a folder
// the user may not write. Set through a Unix shell (Wine starts a Unix path as
// a native process), which leaves a marker with its result.
class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(const std::string& dir) : unix_dir_(UnixPath(dir)) { on_ = Chattr("+i"); }
  ~ReadOnlyFolder() {
    if (on_) Chattr("-i");
  }
  bool on() const { return on_; }
  const std::string& why_not() const { return why_not_; }

 private:
  static std::string UnixPath(const std::string& dir) {
    using ToUnix = char*(CDECL*)(const wchar_t*);
    auto to_unix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
    if (!to_unix) return {};
    char* path = to_unix(Wide(dir).c_str());
    if (!path) return {};
    std::string unix_path = path;
    ::HeapFree(::GetProcessHeap(), 0, path);
    return unix_path;
  }

  bool Chattr(const char* flag) {
    if (unix_dir_.empty()) {
      why_not_ = "no Unix path (not Wine?)";
      return false;
    }
    const std::string marker_unix = kScratchDir + "/fault-table/chattr-result";
    const std::string marker = WinePath(marker_unix.c_str());
    ::DeleteFileA(marker.c_str());
    std::string command = "/bin/sh -c \"chattr " + std::string(flag) + " '" + unix_dir_ + "' >'" + marker_unix +
                          ".log' 2>&1 && echo ok >'" + marker_unix + "' || echo failed >'" + marker_unix + "'\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      why_not_ = "cannot start /bin/sh";
      return false;
    }
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    for (const ULONGLONG deadline = ::GetTickCount64() + 10000; ::GetTickCount64() < deadline; ::Sleep(20)) {
      const std::string result = ReadBytes(marker);
      if (result.rfind("ok", 0) == 0) return true;
      if (result.rfind("failed", 0) == 0) {
        why_not_ = "chattr " + std::string(flag) + ": " + ReadBytes(marker + ".log");
        return false;
      }
    }
    why_not_ = "chattr did not answer";
    return false;
  }

  std::string unix_dir_;
  bool on_ = false;
  std::string why_not_;
};

class FaultTable : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = TestServerUrl();
    ASSERT_FALSE(base_.empty()) << "no test server";
    ClearFaults(base_);
    // No newer program unless a row says so: the real updater must not start.
    Serve("MarlixVer.ini", "[Marlix]\r\nzipver=1.0\r\n");
    ::CreateDirectoryA(kWorkDir.c_str(), nullptr);
  }
  void TearDown() override {
    if (!base_.empty()) ClearFaults(base_);
    if (!section_file_.empty()) WriteSection(section_file_, section_title_, rows_);
  }

  int FailuresSoFar() const {
    const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    int failures = 0;
    for (int i = 0; i < result->total_part_count(); ++i) failures += result->GetTestPartResult(i).failed();
    return failures;
  }

  // Runs one row: `run` fills in what was seen and what is on disk, and checks it.
  void AddRow(const std::string& fault, const std::function<void(Row&)>& run) {
    SCOPED_TRACE(fault);
    Row row;
    row.fault = fault;
    ClearFaults(base_);
    const int failures = FailuresSoFar();
    const ULONGLONG start = ::GetTickCount64();
    run(row);
    row.seconds = SecondsSince(start);
    row.held = FailuresSoFar() == failures;
    std::printf("[row] %s: %s | %s (%.1f s)\n", fault.c_str(), row.sees.c_str(), row.disk.c_str(), row.seconds);
    rows_.push_back(row);
  }

  void Fault(const std::string& name, const std::string& query) { SetFault(base_, name, query); }

  std::string base_;
  std::string section_file_;
  std::string section_title_;
  std::vector<Row> rows_;
};

std::string Join(const std::vector<std::string>& texts, const char* separator) {
  std::string out;
  for (const std::string& text : texts) out += (out.empty() ? "" : separator) + text;
  return out;
}

std::string BoxesSeen(const std::vector<std::string>& boxes) {
  std::vector<std::string> quoted;
  for (const std::string& box : boxes) quoted.push_back("box \"" + box + "\"");
  return Join(quoted, ", then ");
}

// ---------------------------------------------------------------------------
// Start-up: Marlix.exe shows its icon and asks the server for the program
// version beside it. It runs from a folder of its own with no updater beside
// it, so an update wrongly found due shows up as a message box, not as the
// real updater replacing files.

class StartUpFaults : public FaultTable, protected Marlix {
 protected:
  void SetUp() override {
    FaultTable::SetUp();
    section_file_ = "1-start-up.md";
    section_title_ = "Start-up of Marlix.exe (program-version check, manifest.txt or MarlixVer.ini)";
    dir_ = kWorkDir + "\\start-up";
    ::CreateDirectoryA(dir_.c_str(), nullptr);
    ::DeleteFileA((dir_ + "\\MarlixUpd.exe").c_str());
    program_ = ReadBytes(WinePath(MARLIX_TEST_BIN_DIR "/bin/Marlix.exe"));
    WriteBytes(dir_ + "\\Marlix.exe", program_);
  }
  void TearDown() override {
    End();
    for (const char* name : {"manifest.txt", "manifest.txt.sig"})
      ::DeleteFileA((kServerState + "/root/" + name).c_str());
    FaultTable::TearDown();
  }

  // Starts the program and records how long until its icon, answering what it
  // asks. The check runs beside the icon: a row that expects a box waits for
  // it, the others give the check `settle_ms` to show a wrong one.
  void StartAndWatch(Row& row, const std::string& server, std::size_t boxes_expected = 0, DWORD settle_ms = 3000) {
    BoxAnswerer answerer;
    ASSERT_TRUE(Start(server, dir_ + "\\Marlix.exe", dir_));
    answerer.Answer(pid());
    // A program that shows no icon is ended, so that the next row can start one.
    if (const auto framed = WaitForFrame(); !framed) {
      ADD_FAILURE() << framed.message();
      End();
      return;
    }
    const double seconds = SecondsSince(started_at());
    answerer.WaitForBoxes(boxes_expected > 0 ? boxes_expected : 1, boxes_expected > 0 ? 30000 : settle_ms);
    answerer.Stop();
    boxes_ = answerer.Boxes();
    row.sees = (boxes_.empty() ? "" : BoxesSeen(boxes_) + "; ") + "icon after " + Seconds(seconds);
    EXPECT_TRUE(Running());
    End();
    const bool same = ReadBytes(dir_ + "\\Marlix.exe") == program_;
    EXPECT_TRUE(same);
    row.disk = std::string(same ? "Marlix.exe unchanged" : "Marlix.exe CHANGED") +
               "; files in the folder: " + Join(FilesIn(dir_, "*"), ", ");
    seconds_ = seconds;
  }

  std::string dir_;
  std::string program_;
  std::vector<std::string> boxes_;
  double seconds_ = 0;
};

TEST_F(StartUpFaults, TheIconComesAndNothingIsStartedOrChanged) {
  AddRow("nothing listens on the port (connection refused)", [&](Row& row) {
    StartAndWatch(row, kNoServer);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_LT(seconds_, 10.0);
  });
  {
    HangUpServer hang_up;
    AddRow("the server accepts and hangs up without an answer", [&](Row& row) {
      StartAndWatch(row, hang_up.url());
      EXPECT_TRUE(boxes_.empty());
      EXPECT_LT(seconds_, 10.0);
    });
  }
  {
    SilentServer silent;
    AddRow("the server never answers the connect (a machine that is down)", [&](Row& row) {
      if (!silent.silent()) {
        row.sees = "not run: no listener here leaves a connect unanswered";
        return;
      }
      StartAndWatch(row, silent.url());
      EXPECT_TRUE(boxes_.empty());
      EXPECT_LT(seconds_, 26.0) << "the connect held the start-up past both time-outs";
    });
  }
  for (const char* status : {"404", "500"}) {
    AddRow(std::string("MarlixVer.ini: ") + status + " page", [&](Row& row) {
      Fault("MarlixVer.ini", std::string("status=") + status);
      StartAndWatch(row, base_);
      EXPECT_TRUE(boxes_.empty());
    });
  }
  AddRow("MarlixVer.ini: a redirect to itself, for ever", [&](Row& row) {
    Fault("MarlixVer.ini", "redirect=MarlixVer.ini");
    StartAndWatch(row, base_);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_LT(seconds_, 10.0);
  });
  AddRow("MarlixVer.ini: answer delayed 20 s (time-out 10 s)", [&](Row& row) {
    Fault("MarlixVer.ini", "delay=" + std::to_string(kTimeoutDelayMs));
    StartAndWatch(row, base_);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_LT(seconds_, 9.0) << "the check held the icon back";
  });
  AddRow("update due (zipver=1.1) and MarlixUpd.exe missing", [&](Row& row) {
    Serve("MarlixVer.ini", "[Marlix]\r\nzipver=1.1\r\n");
    StartAndWatch(row, base_, 1);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_NE(boxes_[0].find(dir_ + "\\MarlixUpd.exe"), std::string::npos) << boxes_[0];
  });
  // Without the publisher's signature the version file is as good as no answer:
  // the missing updater's box would show any attempt to start it.
  for (const auto& spoilt : {std::pair{"MarlixVer.ini.sig missing (404)", BadSignature::kMissing},
                             {"MarlixVer.ini signed with another key", BadSignature::kOtherKey}}) {
    const BadSignature bad = spoilt.second;
    AddRow(std::string("update due (zipver=1.1), ") + spoilt.first, [&](Row& row) {
      Serve("MarlixVer.ini", "[Marlix]\r\nzipver=1.1\r\n");
      SpoilSignature(base_, "MarlixVer.ini", bad, "");
      StartAndWatch(row, base_);
      EXPECT_TRUE(boxes_.empty());
      SignNormally(base_, "MarlixVer.ini");
    });
  }
  // A service with a manifest: its program record decides, the version file
  // is not asked, and a manifest that is not the publisher's or is older than
  // the edition the data folder holds decides nothing.
  const std::string listed = ReadBytes(WinePath(MARLIX_TEST_BIN_DIR "/bin/Marlix.exe"));
  const std::string stored_path = std::string(kDataDir) + "\\manifest.txt";
  const std::string stored = ReadBytes(stored_path);
  ::CreateDirectoryA(kDataDir, nullptr);
  WriteBytes(stored_path, ProgramManifest(2000000, "", ""));
  struct ManifestRow {
    const char* fault;
    std::uint64_t edition;
    const char* version;
    bool spoilt;
    std::size_t boxes;
  };
  for (const ManifestRow& m :
       {ManifestRow{"manifest.txt names 1.1.0.0, MarlixUpd.exe missing", 2000000, "1.1.0.0", false, 1},
        {"manifest.txt names 1.0.0.0 (the running one), zipver=1.1", 2000000, "1.0.0.0", false, 0},
        {"manifest.txt names 1.1.0.0, signed with another key", 2000000, "1.1.0.0", true, 0},
        {"manifest.txt names 1.1.0.0, edition below the stored one", 1999999, "1.1.0.0", false, 0}}) {
    AddRow(m.fault, [&](Row& row) {
      Serve("MarlixVer.ini", "[Marlix]\r\nzipver=1.1\r\n");
      Serve("manifest.txt", ProgramManifest(m.edition, m.version, listed));
      if (m.spoilt) SpoilSignature(base_, "manifest.txt", BadSignature::kOtherKey, "");
      StartAndWatch(row, base_, m.boxes);
      EXPECT_EQ(boxes_.size(), m.boxes);
      SignNormally(base_, "manifest.txt");
    });
  }
  for (const char* name : {"manifest.txt", "manifest.txt.sig"}) ::DeleteFileA((kServerState + "/root/" + name).c_str());
  if (stored.empty()) {
    ::DeleteFileA(stored_path.c_str());
  } else {
    WriteBytes(stored_path, stored);
  }
  Serve("MarlixVer.ini", "[Marlix]\r\nzipver=1.0\r\n");
  AddRow("MarlixVer.ini without end (the server never stops sending)", [&](Row& row) {
    Fault("MarlixVer.ini", "endless=1");
    StartAndWatch(row, base_);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_LT(seconds_, 10.0);
  });
}

// ---------------------------------------------------------------------------
// The data files: the third tab's panel and "업데이트", in one Marlix.exe.

constexpr const char* kDataFiles[] = {"post.csv", "postcode.txt", "postver.txt"};
constexpr char kOldCode[] = "999001";
constexpr char kOldLine[] = "999-001 옛자료시 옛동 그대로아파트";

std::string LocalPath(const char* name) { return std::string(kDataDir) + "\\" + name; }

// Data lines, in the data's CP949.
std::string Lines(const char* prefix, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    char line[128];
    std::snprintf(line, sizeof line, "%s %03d\r\n", prefix, i);
    text += line;
  }
  return Cp949(text);
}

// Old files as a user has them, new ones on the server, every one of them
// longer than two blocks so that each cut falls inside it.
const std::vector<std::string>& OldData() {
  static const std::vector<std::string> files = {std::string(3000, 'o'),
                                                 Cp949(kOldLine) + "\r\n" + Lines("999-002 옛자료시 옛동", 80),
                                                 "2026.11.01\r\n" + Lines("옛 자료", 100)};
  return files;
}
const std::vector<std::string>& NewData() {
  static const std::vector<std::string> files = [] {
    std::string csv = Cp949("우편번호,시도,시군구,도로명 수,건물 수\r\n");
    for (std::size_t i = csv.size(); i < 5000; ++i) csv += static_cast<char>(i * 13 + 5);
    return std::vector<std::string>{csv, Lines("999-003 새자료시 새동", 150), "2026.12.07\r\n" + Lines("새 자료", 120)};
  }();
  return files;
}

class DataFaults : public FaultTable, protected Marlix {
 protected:
  void SetUp() override {
    FaultTable::SetUp();
    section_file_ = "2-data.md";
    section_title_ =
        "Data files in c:\\postcode: the data-version panel and " + kUpdateButton + " (Marlix.exe, third tab)";
    for (int i = 0; i < 3; ++i) Serve(kDataFiles[i], NewData()[i]);
  }
  void TearDown() override {
    answerer_.Stop();
    End();
    FaultTable::TearDown();
    InstallRealData();  // later tests search the real data
  }

  void PutOldData() {
    ::CreateDirectoryA(kDataDir, nullptr);
    for (int i = 0; i < 3; ++i) WriteBytes(LocalPath(kDataFiles[i]), OldData()[i]);
  }

  // "old", "new" or what else each file is; and leftovers of the download.
  std::string Disk() {
    std::string disk;
    for (int i = 0; i < 3; ++i) {
      const std::string bytes = ReadBytes(LocalPath(kDataFiles[i]));
      const bool there = ::GetFileAttributesA(LocalPath(kDataFiles[i]).c_str()) != INVALID_FILE_ATTRIBUTES;
      std::string state = !there                  ? "MISSING"
                          : bytes == OldData()[i] ? "old"
                          : bytes == NewData()[i] ? "new"
                                                  : "CHANGED (" + std::to_string(bytes.size()) + " bytes)";
      disk += std::string(i ? ", " : "") + kDataFiles[i] + " " + state;
    }
    for (const std::string& left : FilesIn(kDataDir, "*.part")) disk += ", LEFT OVER " + left;
    return disk;
  }

  static std::string Expected(int first_old) {
    std::string disk;
    for (int i = 0; i < 3; ++i) disk += std::string(i ? ", " : "") + kDataFiles[i] + (i < first_old ? " new" : " old");
    return disk;
  }

  // The panel, fetched again by choosing the tab anew.
  std::string Panel() {
    ShowUpdateTab();
    const std::wstring text = Text(IDC_DATA_VERSION);
    const auto lines = std::count(text.begin(), text.end(), L'\n');
    return "panel \"" + Utf8(Text(IDC_UPDATE_STATUS)) + "\" with " +
           (text.empty() ? std::string("an empty text box") : std::to_string(lines) + " lines");
  }

  // 업데이트 pressed on old data; what the status line and any box say.
  std::string Update() {
    answerer_.Forget();
    PutOldData();
    SetText(IDC_UPDATE_STATUS, "");
    Click(IDC_UPDATE);
    EXPECT_TRUE(WaitUpdateEnded());
    status_ = Text(IDC_UPDATE_STATUS);
    const std::vector<std::string> boxes = answerer_.Boxes();
    return kUpdateButton + ": status \"" + Utf8(status_) + "\"" + (boxes.empty() ? "" : ", " + BoxesSeen(boxes));
  }

  // The old data still answers a search, as the user would run it.
  std::string SearchOld() {
    SelectTab(0);
    SimpleSearch(1, kOldCode);
    const bool found = ListCount() == 1 && ListItem(0) == Wide(kOldLine);
    EXPECT_TRUE(found) << "the old data does not search";
    SelectTab(2);
    return found ? "; the old postcode.txt still finds 999-001" : "; the old postcode.txt DOES NOT SEARCH";
  }

  void StartMarlix(const std::string& server) {
    End();
    PutOldData();
    ASSERT_TRUE(StartWithSearchWindow(server));
    answerer_.Answer(pid());
    ShowUpdateTab();
  }

  BoxAnswerer answerer_;
  std::wstring status_;
};

TEST_F(DataFaults, TheOldFilesStayWhenaFileFailsAndAWholeFileReplacesThem) {
  const std::wstring done = Wide(marlix::kTextDownloadDone);
  const std::wstring failed = Wide(marlix::kTextNetworkFailure);
  StartMarlix(base_);

  AddRow("no fault", [&](Row& row) {
    row.sees = Panel() + "; " + Update();
    row.disk = Disk();
    EXPECT_EQ(status_, done);
    EXPECT_EQ(row.disk, Expected(3));
  });

  for (int file = 0; file < 3; ++file) {
    const std::string name = kDataFiles[file];
    const std::string half = std::to_string(NewData()[file].size() / 2);
    for (const std::string& fault : std::vector<std::string>{"status=404", "status=500", "cut=0", "cut=1", "cut=1023",
                                                             "cut=1024", "cut=" + half}) {
      const std::string shown =
          fault.rfind("status=", 0) == 0 ? fault.substr(7) + " page"
          : fault == "cut=" + half
              ? "body cut at half (" + half + " of " + std::to_string(NewData()[file].size()) + " bytes)"
              : "body cut at " + fault.substr(4) + (fault == "cut=1" ? " byte" : " bytes");
      AddRow(name + ": " + shown, [&](Row& row) {
        Fault(name, fault);
        // The panel reads postver.txt: its rows show the panel too.
        row.sees = (file == 2 ? Panel() + "; " : "") + Update();
        row.disk = Disk();
        EXPECT_EQ(status_, failed);
        EXPECT_EQ(row.disk, Expected(file));
        if (file == 2) {
          EXPECT_EQ(Text(IDC_DATA_VERSION), L"") << "a failed version shown as one";
        }
        Fault(name, "");
      });
    }
  }

  Serve("postcode-moved.txt", NewData()[1]);
  AddRow("postcode.txt: redirect (302) to another name holding the new file", [&](Row& row) {
    Fault("postcode.txt", "redirect=postcode-moved.txt");
    row.sees = Update();
    row.disk = Disk();
    EXPECT_EQ(status_, done);
    EXPECT_EQ(row.disk, Expected(3));
  });
  AddRow("postcode.txt: redirect to a missing file (404)", [&](Row& row) {
    Fault("postcode.txt", "redirect=postcode-gone.txt");
    row.sees = Update();
    row.disk = Disk();
    EXPECT_EQ(status_, failed);
    EXPECT_EQ(row.disk, Expected(1));
  });
  AddRow("postcode.txt: a redirect to itself, for ever", [&](Row& row) {
    Fault("postcode.txt", "redirect=postcode.txt");
    row.sees = Update();
    row.disk = Disk();
    EXPECT_EQ(status_, failed);
    EXPECT_EQ(row.disk, Expected(1));
    Fault("postcode.txt", "");
  });
  AddRow("postver.txt: answer delayed 20 s (time-out 10 s), panel and " + kUpdateButton, [&](Row& row) {
    Fault("postver.txt", "delay=" + std::to_string(kTimeoutDelayMs));
    const ULONGLONG start = ::GetTickCount64();
    row.sees = Panel() + "; " + Update();
    EXPECT_LT(SecondsSince(start), 30.0) << "the time-outs did not end the waits";
    row.disk = Disk();
    EXPECT_EQ(status_, failed);
    EXPECT_EQ(row.disk, Expected(2));
    Fault("postver.txt", "");
  });
  AddRow("c:\\postcode read-only (immutable folder: no file may be created, renamed or deleted)", [&](Row& row) {
    PutOldData();
    ReadOnlyFolder read_only(kDataDir);
    if (!read_only.on()) {
      row.sees = "not run: " + read_only.why_not();
      row.disk = "-";
      std::printf("warning: c:\\postcode could not be made read-only: %s\n", read_only.why_not().c_str());
      return;
    }
    answerer_.Forget();
    SetText(IDC_UPDATE_STATUS, "");
    Click(IDC_UPDATE);
    EXPECT_TRUE(WaitUpdateEnded());
    status_ = Text(IDC_UPDATE_STATUS);
    const std::vector<std::string> boxes = answerer_.Boxes();
    row.sees = kUpdateButton + ": status \"" + Utf8(status_) + "\", " + BoxesSeen(boxes);
    row.disk = Disk() + SearchOld();
    EXPECT_EQ(row.disk.substr(0, Expected(0).size()), Expected(0));
    ASSERT_EQ(boxes.size(), 1u) << "no message for a folder that cannot be written";
    EXPECT_NE(boxes[0].find("post.csv"), std::string::npos);
  });
  AddRow("after every failure above: the old data in a search", [&](Row& row) {
    PutOldData();
    row.sees = "search for 999001 on the first tab";
    row.disk = Disk() + SearchOld();
  });

  // No server at all: the panel and the download, in a Marlix of its own.
  AddRow("nothing listens on the port (connection refused)", [&](Row& row) {
    StartMarlix(kNoServer);
    row.sees = Panel() + "; " + Update();
    row.disk = Disk();
    EXPECT_EQ(status_, failed);
    EXPECT_EQ(row.disk, Expected(0));
  });
  HangUpServer hang_up;
  AddRow("the server accepts and hangs up without an answer", [&](Row& row) {
    StartMarlix(hang_up.url());
    row.sees = Panel() + "; " + Update();
    row.disk = Disk() + SearchOld();
    EXPECT_EQ(status_, failed);
    EXPECT_EQ(row.disk.substr(0, Expected(0).size()), Expected(0));
  });
}

// Each data file is taken only with the publisher's signature and within the
// size it may have; otherwise the old one stays and the status line says why.
TEST_F(DataFaults, AFileWithoutThePublishersSignatureOrTooLargeIsNotTaken) {
  section_file_ = "2s-data-signatures.md";
  section_title_ = "Data files: signatures and sizes (" + kUpdateButton + ")";
  StartMarlix(base_);
  struct Refused {
    std::string fault;
    int file;  // the first file kept old
    std::function<void()> arrange;
    const char* status_format;
  };
  const std::string version = kDataFiles[2];
  const std::string big_version(marlix::kMaxDataVersionBytes + 1, 'v');
  const std::vector<Refused> rows = {
      {"postcode.txt.sig missing (404)", 1, [&] { SpoilSignature(base_, kDataFiles[1], BadSignature::kMissing, ""); },
       marlix::kTextUnsignedFormat},
      {"postcode.txt signed with another key", 1,
       [&] { SpoilSignature(base_, kDataFiles[1], BadSignature::kOtherKey, ""); }, marlix::kTextBadSignatureFormat},
      {"postcode.txt.sig of another file (post.csv)", 1,
       [&] { SpoilSignature(base_, kDataFiles[1], BadSignature::kOtherFile, kDataFiles[0]); },
       marlix::kTextBadSignatureFormat},
      {"postcode.txt.sig cut at 40 bytes", 1, [&] { SpoilSignature(base_, kDataFiles[1], BadSignature::kCut, ""); },
       marlix::kTextBadSignatureFormat},
      {"postcode.txt.sig garbage", 1, [&] { SpoilSignature(base_, kDataFiles[1], BadSignature::kGarbage, ""); },
       marlix::kTextBadSignatureFormat},
      {"postver.txt.sig missing (the panel still shows the file)", 2,
       [&] { SpoilSignature(base_, version, BadSignature::kMissing, ""); }, marlix::kTextUnsignedFormat},
      {"postver.txt signed, one byte past its 64 KB", 2, [&] { Serve(version, big_version); },
       marlix::kTextTooLargeFormat},
      {"postver.txt without end (the server never stops sending)", 2, [&] { Fault(version, "endless=1"); },
       marlix::kTextTooLargeFormat},
  };
  for (const Refused& refused : rows) {
    AddRow(refused.fault, [&](Row& row) {
      refused.arrange();
      const std::string name = kDataFiles[refused.file];
      // The panel only shows the version text: it takes it unsigned.
      const bool panel = refused.file == 2 && refused.status_format == marlix::kTextUnsignedFormat;
      row.sees = (panel ? Panel() + "; " : "") + Update();
      row.disk = Disk();
      EXPECT_EQ(status_, Wide(marlix::FormatText(refused.status_format, name)));
      EXPECT_EQ(row.disk, Expected(refused.file)) << "the old file is kept, byte for byte";
      if (panel) {
        EXPECT_NE(Text(IDC_DATA_VERSION), L"") << "the panel shows the unsigned version text";
      }
      SignNormally(base_, name);
      Serve(name, NewData()[refused.file]);
    });
  }
  AddRow("every file signed again", [&](Row& row) {
    row.sees = Update();
    row.disk = Disk();
    EXPECT_EQ(status_, Wide(marlix::kTextDownloadDone));
    EXPECT_EQ(row.disk, Expected(3));
  });
}

// ---------------------------------------------------------------------------
// The program: MarlixUpd.exe in a program folder of its own, with a copy of
// the build's Marlix.exe as the old program and a newer build on the server.

class ProgramFaults : public FaultTable {
 protected:
  void SetUp() override {
    FaultTable::SetUp();
    section_file_ = "3-program.md";
    section_title_ = "The program: MarlixUpd.exe replacing Marlix.exe";
    EndAll("Marlix.exe");
    for (const auto& [pid, path] : RunningPrograms("explorer.exe")) explorers_before_.insert(pid);
    dir_ = kWorkDir + "\\program";
    ::CreateDirectoryA(dir_.c_str(), nullptr);
    old_program_ = ReadBytes(WinePath(MARLIX_TEST_BIN_DIR "/bin/Marlix.exe"));
    ASSERT_GT(old_program_.size(), 100000u);
    // A newer build: the same program with a higher version.
    new_program_ = WithVersion(old_program_, 1, 1);
    Serve("Marlix.exe", new_program_);
    EndAll("MarlixUpd.exe");
    PrepareFolder(dir_, true);
  }
  void TearDown() override {
    answerer_.Stop();
    EndAll("MarlixUpd.exe");
    EndAll("Marlix.exe");
    // A folder window from a program that could not start would hold the test's output open.
    EndAll("explorer.exe", explorers_before_);
    if (updater_.handle) ::CloseHandle(updater_.handle);
    _putenv_s("MARLIX_SERVER_URL", "");
    FaultTable::TearDown();
  }

  // The old program and the build's updater, nothing else. Between rows the
  // updater may be running from the folder: then it stays.
  void PrepareFolder(const std::string& dir, bool new_updater = false) {
    for (const std::string& name : FilesIn(dir, "*")) {
      if (new_updater || name != "MarlixUpd.exe") ::DeleteFileA((dir + "\\" + name).c_str());
    }
    WriteBytes(dir + "\\Marlix.exe", old_program_);
    if (new_updater) {
      ASSERT_TRUE(::CopyFileA(WinePath(MARLIX_TEST_BIN_DIR "/bin/MarlixUpd.exe").c_str(),
                              (dir + "\\MarlixUpd.exe").c_str(), FALSE));
    }
  }

  std::string Disk(const std::string& dir) {
    const std::string program = ReadBytes(dir + "\\Marlix.exe");
    std::string disk =
        "Marlix.exe " + std::string(program == old_program_   ? "old"
                                    : program == new_program_ ? "new"
                                    : program.empty()         ? "MISSING"
                                                              : "OTHER (" + std::to_string(program.size()) + " bytes)");
    for (const std::string& name : FilesIn(dir, "*")) {
      if (name != "Marlix.exe" && name != "MarlixUpd.exe") disk += ", " + name + " left";
    }
    return disk;
  }

  void StartUpdater(const std::string& server, const std::string& dir) {
    if (updater_.handle) ::CloseHandle(updater_.handle);
    _putenv_s("MARLIX_SERVER_URL", server.c_str());
    answerer_.Forget();
    updater_ = StartProcess(dir + "\\MarlixUpd.exe", dir);
    answerer_.Answer(updater_.pid);
  }

  // A download that fails leaves the window open for another try; `wait_ms`
  // bounds the `boxes` it shows.
  std::string FailedDownload(DWORD wait_ms = 40000, std::size_t boxes = 2) {
    EXPECT_TRUE(answerer_.WaitForBoxes(boxes, wait_ms)) << "no message boxes";
    HWND window = UpdaterWindow(updater_.pid, 5000);
    EXPECT_NE(window, nullptr);
    bool enabled = false;
    for (int i = 0; i < 250 && !enabled; ++i, ::Sleep(20)) {
      enabled = ::IsWindowEnabled(::GetDlgItem(window, IDOK)) && ::IsWindowEnabled(::GetDlgItem(window, IDCANCEL));
    }
    EXPECT_TRUE(enabled) << "OK and Cancel are not back";
    EXPECT_TRUE(updater_.Running()) << "the updater ended after a failed download";
    window_ = window;
    return BoxesSeen(answerer_.Boxes()) + "; window stays with \"" + TextOf(::GetDlgItem(window, IDC_UPDATE_MESSAGE)) +
           "\", OK and Cancel enabled";
  }

  // Runs the update again in the open window (OK), or starts the updater.
  void TryAgain() {
    answerer_.Forget();
    if (updater_.Running() && window_) {
      ::PostMessageA(window_, WM_COMMAND, IDOK, 0);
    } else {
      StartUpdater(base_, dir_);
    }
  }

  void CancelUpdater() {
    if (window_ && updater_.Running()) ::PostMessageA(window_, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(updater_.WaitEnd(10000)) << "Cancel did not end the updater";
    window_ = nullptr;
  }

  // A whole update: the updater ends by itself and the new program runs.
  std::string WholeUpdate(DWORD wait_ms = 120000) {
    EXPECT_TRUE(updater_.WaitEnd(wait_ms)) << "the updater did not end";
    std::string sees = BoxesSeen(answerer_.Boxes());
    char full[MAX_PATH] = {};
    ::GetFullPathNameA((dir_ + "\\Marlix.exe").c_str(), MAX_PATH, full, nullptr);
    bool runs = false;
    for (const ULONGLONG deadline = ::GetTickCount64() + 20000; !runs && ::GetTickCount64() < deadline; ::Sleep(50)) {
      for (const auto& [pid, path] : RunningPrograms("Marlix.exe")) runs = runs || ::lstrcmpiA(path.c_str(), full) == 0;
    }
    EXPECT_TRUE(runs) << "the new program was not started";
    EndAll("Marlix.exe");
    return sees + (runs ? "; the new Marlix.exe runs" : "; NO PROGRAM RUNS");
  }

  // The folder's Marlix.exe starts and shows its icon.
  std::string OldProgramStarts() {
    Marlix program;
    const bool started = program.Start(base_, dir_ + "\\Marlix.exe", dir_) && program.WaitForFrame();
    EXPECT_TRUE(started) << "the old Marlix.exe does not start";
    return started ? "; it starts (icon after " + Seconds(SecondsSince(program.started_at())) + ")"
                   : "; it DOES NOT START";
  }

  std::string dir_;
  std::string old_program_;
  std::string new_program_;
  std::set<DWORD> explorers_before_;
  Process updater_;
  HWND window_ = nullptr;
  BoxAnswerer answerer_;
};

TEST_F(ProgramFaults, AFailedDownloadKeepsTheOldProgramAndAWholeOneReplacesIt) {
  const std::string half = std::to_string(new_program_.size() / 2);
  struct Failure {
    std::string fault;
    std::string query;
    DWORD wait_ms;
  };
  const std::vector<Failure> failures = {
      {"404 page", "status=404", 40000},
      {"500 page", "status=500", 40000},
      {"body cut at 0 bytes", "cut=0", 40000},
      {"body cut at 1 byte", "cut=1", 40000},
      {"body cut at 1023 bytes", "cut=1023", 40000},
      {"body cut at 1024 bytes", "cut=1024", 40000},
      {"body cut at half (" + half + " bytes)", "cut=" + half, 40000},
      {"redirect to a missing file (404)", "redirect=Marlix-gone.exe", 40000},
      {"a redirect to itself, for ever", "redirect=Marlix.exe", 40000},
      {"answer delayed 20 s (time-out 10 s)", "delay=" + std::to_string(kTimeoutDelayMs), 60000},
  };
  for (const Failure& failure : failures) {
    AddRow("Marlix.exe: " + failure.fault, [&](Row& row) {
      PrepareFolder(dir_);
      Fault("Marlix.exe", failure.query);
      const ULONGLONG start = ::GetTickCount64();
      TryAgain();
      row.sees = FailedDownload(failure.wait_ms);
      EXPECT_LT(SecondsSince(start), 17.0) << "the time-out did not end the wait";
      row.disk = Disk(dir_);
      EXPECT_EQ(row.disk, "Marlix.exe old");
      EXPECT_EQ(answerer_.Boxes(), (std::vector<std::string>{upd::kTextNetworkFailure, upd::kTextCannotDownload}));
    });
  }
  Fault("Marlix.exe", "");
  CancelUpdater();
  AddRow("after every failed download above", [&](Row& row) {
    row.sees = "Cancel ends the updater";
    row.disk = Disk(dir_) + OldProgramStarts();
    EndAll("Marlix.exe");
  });

  AddRow("nothing listens on the port (connection refused)", [&](Row& row) {
    PrepareFolder(dir_);
    StartUpdater(kNoServer, dir_);
    row.sees = FailedDownload();
    row.disk = Disk(dir_);
    EXPECT_EQ(row.disk, "Marlix.exe old");
    CancelUpdater();
  });
  {
    HangUpServer hang_up;
    AddRow("the server accepts and hangs up without an answer", [&](Row& row) {
      PrepareFolder(dir_);
      StartUpdater(hang_up.url(), dir_);
      row.sees = FailedDownload();
      row.disk = Disk(dir_);
      EXPECT_EQ(row.disk, "Marlix.exe old");
      CancelUpdater();
    });
  }

  const std::string read_only_dir = kWorkDir + "\\read-only-program";
  ::CreateDirectoryA(read_only_dir.c_str(), nullptr);
  PrepareFolder(read_only_dir, true);
  AddRow("program folder read-only (immutable folder: no file may be created, renamed or deleted)", [&](Row& row) {
    ReadOnlyFolder read_only(read_only_dir);
    if (!read_only.on()) {
      row.sees = "not run: " + read_only.why_not();
      row.disk = "-";
      std::printf("warning: the program folder could not be made read-only: %s\n", read_only.why_not().c_str());
      return;
    }
    StartUpdater(base_, read_only_dir);
    row.sees = FailedDownload();
    row.disk = Disk(read_only_dir);
    EXPECT_EQ(row.disk, "Marlix.exe old");
    const std::vector<std::string> boxes = answerer_.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[0].find("Marlix_New.exe"), std::string::npos) << boxes[0];
    EXPECT_EQ(boxes[1], upd::kTextCannotDownload);
    CancelUpdater();
  });

  Serve("Marlix-moved.exe", new_program_);
  AddRow("Marlix.exe: redirect (302) to another name holding the new build", [&](Row& row) {
    PrepareFolder(dir_);
    Fault("Marlix.exe", "redirect=Marlix-moved.exe");
    StartUpdater(base_, dir_);
    row.sees = WholeUpdate();
    row.disk = Disk(dir_);
    EXPECT_EQ(row.disk, "Marlix.exe new");
    EXPECT_EQ(answerer_.Boxes(), std::vector<std::string>{upd::kTextUpdated});
    Fault("Marlix.exe", "");
  });
  AddRow("a stale Marlix_old.exe in the program folder", [&](Row& row) {
    PrepareFolder(dir_);
    WriteBytes(dir_ + "\\Marlix_old.exe", "a program left by an update that broke off");
    StartUpdater(base_, dir_);
    row.sees = WholeUpdate();
    row.disk = Disk(dir_);
    EXPECT_EQ(row.disk, "Marlix.exe new");
    EXPECT_EQ(answerer_.Boxes(), std::vector<std::string>{upd::kTextUpdated});
  });
  AddRow("Marlix.exe: a 50 MB program", [&](Row& row) {
    std::string big = new_program_;
    big.resize(50u << 20, '\x5A');
    Serve("Marlix.exe", big);
    new_program_ = big;
    PrepareFolder(dir_);
    StartUpdater(base_, dir_);
    row.sees = WholeUpdate();
    row.disk = Disk(dir_);
    EXPECT_EQ(row.disk, "Marlix.exe new");
    EXPECT_EQ(answerer_.Boxes(), std::vector<std::string>{upd::kTextUpdated});
    ::DeleteFileA((kServerState + "/root/Marlix.exe").c_str());
  });
}

// The program is installed only when the publisher signed it, it is newer
// than the installed one and not larger than a program may be; a refusal is
// a failed download whose notice says why, and OK tries again.
TEST_F(ProgramFaults, AProgramThatIsNotThePublishersNewerOneIsRefused) {
  section_file_ = "3s-program-signatures.md";
  section_title_ = "The program: signatures, versions and size (MarlixUpd.exe)";
  const std::string cannot = std::string(upd::kTextCannotDownload) + "\n";
  const std::string bad = cannot + upd::kTextBadSignatureProgram;
  struct Refused {
    std::string fault;
    std::function<void()> arrange;
    std::string notice;
    DWORD wait_ms;
  };
  const std::vector<Refused> rows = {
      {"Marlix.exe.sig missing (404)", [&] { SpoilSignature(base_, "Marlix.exe", BadSignature::kMissing, ""); },
       cannot + upd::kTextUnsignedProgram, 40000},
      {"Marlix.exe signed with another key", [&] { SpoilSignature(base_, "Marlix.exe", BadSignature::kOtherKey, ""); },
       bad, 40000},
      {"Marlix.exe.sig of another file (MarlixVer.ini)",
       [&] { SpoilSignature(base_, "Marlix.exe", BadSignature::kOtherFile, "MarlixVer.ini"); }, bad, 40000},
      {"Marlix.exe.sig cut at 40 bytes", [&] { SpoilSignature(base_, "Marlix.exe", BadSignature::kCut, ""); }, bad,
       40000},
      {"Marlix.exe.sig garbage", [&] { SpoilSignature(base_, "Marlix.exe", BadSignature::kGarbage, ""); }, bad, 40000},
      {"an older signed build (0.9)", [&] { Serve("Marlix.exe", WithVersion(old_program_, 0, 9)); },
       cannot + marlix::FormatText(upd::kTextNotNewerFormat, "0.9.0.0", "1.0.0.0"), 40000},
      {"the installed version again, signed (1.0)",
       [&] { Serve("Marlix.exe", old_program_ + std::string("\0rebuilt\0", 9)); },
       cannot + marlix::FormatText(upd::kTextNotNewerFormat, "1.0.0.0", "1.0.0.0"), 40000},
      {"a body without end (the server never stops sending)", [&] { Fault("Marlix.exe", "endless=1"); },
       cannot + marlix::FormatText(upd::kTextProgramTooLargeFormat, "64"), 180000},
  };
  for (const Refused& refused : rows) {
    AddRow("Marlix.exe: " + refused.fault, [&](Row& row) {
      PrepareFolder(dir_);
      refused.arrange();
      TryAgain();
      row.sees = FailedDownload(refused.wait_ms, 1);
      row.disk = Disk(dir_);
      EXPECT_EQ(row.disk, "Marlix.exe old") << "the old program stays, byte for byte, and nothing is left";
      EXPECT_EQ(answerer_.Boxes(), std::vector<std::string>{refused.notice});
      SignNormally(base_, "Marlix.exe");
      Fault("Marlix.exe", "");
      Serve("Marlix.exe", new_program_);
    });
  }
  AddRow("signed again: OK in the same window", [&](Row& row) {
    PrepareFolder(dir_);
    TryAgain();
    row.sees = WholeUpdate();
    row.disk = Disk(dir_);
    EXPECT_EQ(row.disk, "Marlix.exe new");
    EXPECT_EQ(answerer_.Boxes(), std::vector<std::string>{upd::kTextUpdated});
  });
}

}  // namespace

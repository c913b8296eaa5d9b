// The program update over a real program folder and the test service server,
// with doubles only for what Linux cannot give: Windows processes, the shell
// and the updater window. What the folder holds afterwards is the verdict.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "data_download.h"
#include "file_steps.h"
#include "program_manifest.h"
#include "program_update.h"
#include "service_server.h"
#include "text_format.h"
#include "updater_texts.h"

namespace {

namespace fs = std::filesystem;
using namespace marlix::updater;
using marlix_test::PatternBytes;
using marlix_test::ReadBytes;
using marlix_test::ServiceServer;
using marlix_test::WriteBytes;

// A small but well-formed Windows program file: "MZ", the header pointer at
// 0x3C, "PE\0\0" where it points, then a body.
std::string WindowsProgram(std::size_t size, unsigned seed) {
  std::string bytes = PatternBytes(std::max<std::size_t>(size, 0x100), seed);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  bytes.replace(0x3C, 4, std::string("\x80\0\0\0", 4));
  bytes.replace(0x80, 4, std::string("PE\0\0", 4));
  return bytes;
}

// The window as the update drives it: every call in order, as text.
class RecordingWindow : public UpdateWindow {
 public:
  void SetStatus(const std::string& text) override { Log("status", text); }
  void SetProgressRange(int lower, int upper) override {
    Log("range", std::to_string(lower) + ".." + std::to_string(upper));
  }
  void SetProgressPos(int position) override { positions.push_back(position); }
  void EnableOK(bool enable) override { ok_enabled = enable; }
  void EnableCancel(bool enable) override { cancel_enabled = enable; }
  void Notice(const std::string& text) override {
    Log("notice", text);
    if (on_box) on_box();
  }
  void Warning(const std::string& text) override {
    Log("warning", text);
    if (on_box) on_box();
  }
  void Repaint() override { Log("repaint", ""); }
  void End() override { ended = true; }

  std::vector<std::string> Of(const std::string& kind) const {
    std::vector<std::string> texts;
    for (const auto& [k, text] : log) {
      if (k == kind) texts.push_back(text);
    }
    return texts;
  }
  std::vector<std::string> Boxes() const {
    std::vector<std::string> texts;
    for (const auto& [k, text] : log) {
      if (k == "notice" || k == "warning") texts.push_back(k + ": " + text);
    }
    return texts;
  }

  std::vector<std::pair<std::string, std::string>> log;
  std::vector<int> positions;
  bool ok_enabled = true;
  bool cancel_enabled = true;
  bool ended = false;
  std::function<void()> on_box;  // runs inside a message box, as its loop would

 private:
  void Log(const std::string& kind, const std::string& text) { log.emplace_back(kind, text); }
};

// Processes as the stop step sees them: each may refuse termination, keep
// running for some polls, or hide its exit status.
struct FakeProcess {
  std::uint32_t id = 0;
  std::string image;
  bool terminable = true;
  int running_polls = 0;  // polls answered "still active" after termination
  bool status_readable = true;
};

class FakeProcesses : public Processes {
 public:
  std::optional<std::vector<ProcessEntry>> List() override {
    ++lists;
    if (!list_available) return std::nullopt;
    std::vector<ProcessEntry> entries;
    for (const FakeProcess& p : running) entries.push_back({p.id, p.image});
    return entries;
  }
  std::unique_ptr<OpenedProcess> Open(std::uint32_t id) override {
    auto it = std::find_if(running.begin(), running.end(), [&](const FakeProcess& p) { return p.id == id; });
    return std::make_unique<Opened>(*this, it == running.end() ? nullptr : &*it);
  }
  void Wait(unsigned milliseconds) override { waited_ms += milliseconds; }

  std::vector<FakeProcess> running;
  bool list_available = true;
  std::set<std::uint32_t> terminated;
  unsigned waited_ms = 0;
  int lists = 0;

 private:
  class Opened : public OpenedProcess {
   public:
    Opened(FakeProcesses& owner, FakeProcess* process) : owner_(owner), process_(process) {}
    bool Terminate() override {
      if (process_ == nullptr || !process_->terminable) return false;
      owner_.terminated.insert(process_->id);
      return true;
    }
    std::optional<std::uint32_t> ExitStatus() override {
      if (process_ == nullptr || !process_->status_readable) return std::nullopt;
      if (process_->running_polls > 0) {
        --process_->running_polls;
        return kStillActive;
      }
      return 0u;
    }

   private:
    FakeProcesses& owner_;
    FakeProcess* process_;
  };
};

// Starts nothing; remembers what it was asked to open, and what Marlix.exe
// held at that moment.
class RecordingShell : public Shell {
 public:
  bool Open(const std::string& file, const std::string& parameters, const std::string& directory) override {
    opened.push_back(file + "|" + parameters + "|" + directory);
    if (file == kProgramFile) started_program = ReadBytes(fs::path(directory) / file);
    return file == kProgramFile ? program_starts : true;
  }
  std::vector<std::string> opened;
  std::string started_program;
  bool program_starts = true;
};

// The real files, except for the operations a test makes fail, as a file
// held open by another program would on Windows.
class FilesWithFaults : public ProgramFiles {
 public:
  bool Rename(const std::string& from, const std::string& to) override {
    const std::string op = "rename " + fs::path(from).filename().string() + " " + fs::path(to).filename().string();
    return refused.count(op) == 0 && real.Rename(from, to);
  }
  bool Remove(const std::string& path) override {
    return refused.count("remove " + fs::path(path).filename().string()) == 0 && real.Remove(path);
  }
  bool Exists(const std::string& path) override { return real.Exists(path); }

  SystemFiles real;
  std::set<std::string> refused;
};

// Linux reads no version resources: the versions of the test's programs, by their bytes.
class VersionsByContent : public ProgramVersions {
 public:
  std::optional<FileVersion> Of(const std::string& path) override {
    const auto it = of.find(ReadBytes(path));
    if (it == of.end()) return std::nullopt;
    return it->second;
  }
  std::map<std::string, FileVersion> of;
};

class ProgramUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = marlix_test::MakeTempDir("program");
    WriteBytes(dir_ / kProgramFile, old_program_);
    server_.Serve(kProgramFile, new_program_);
    versions_.of = {{old_program_, {1, 0, 0, 0}}, {new_program_, {1, 1, 0, 0}}};
    processes_.running = {{4, "explorer.exe"}};  // the list is never empty on a real system
  }
  void TearDown() override { fs::remove_all(dir_); }

  // An update of the test's folder from the server at `url`.
  ProgramUpdate MakeUpdate(const std::string& url, int progress_max = kProgressMax) {
    UpdateSetup setup;
    setup.progress_max = progress_max;
    setup.program_dir = dir_.string();
    setup.new_file = marlix::JoinPath(dir_.string(), kNewProgramFile);
    setup.access.base_url = url;
    setup.access.timeout_ms = 3000;
    setup.agent = "MarlixUpd";
    return ProgramUpdate(setup, window_, processes_, files_, versions_, shell_);
  }
  ProgramUpdate MakeUpdate() { return MakeUpdate(server_.url()); }
  void Run() { MakeUpdate().RunUpdate(); }

  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename().string());
    return names;
  }

  // The window after a download that failed: open, both buttons usable again.
  void ExpectFailedDownloadLeftProgramAlone() {
    EXPECT_EQ(ReadBytes(dir_ / kProgramFile), old_program_);
    EXPECT_EQ(Files(), std::set<std::string>{kProgramFile});
    EXPECT_FALSE(window_.ended);
    EXPECT_TRUE(window_.ok_enabled);
    EXPECT_TRUE(window_.cancel_enabled);
    EXPECT_TRUE(shell_.opened.empty());
    ASSERT_FALSE(window_.Boxes().empty());
    EXPECT_EQ(window_.Boxes().back(), std::string("notice: ") + kTextCannotDownload);
  }

  const std::string old_program_ = WindowsProgram(4000, 1);
  const std::string new_program_ = WindowsProgram(3 * 1024 + 10, 2);
  fs::path dir_;
  ServiceServer server_;
  RecordingWindow window_;
  FakeProcesses processes_;
  FilesWithFaults files_;
  VersionsByContent versions_;
  RecordingShell shell_;
};

TEST_F(ProgramUpdateTest, StopsEveryCopyReplacesTheProgramAndStartsTheNewOne) {
  processes_.running = {{10, "explorer.exe"},
                        {11, "Marlix.exe"},
                        {12, "MARLIX.EXE", true, 2},
                        {13, "marlix_new.exe"},
                        {14, "Marlix.exe.bak"}};
  Run();
  EXPECT_EQ(processes_.terminated, (std::set<std::uint32_t>{11, 12, 13}));
  EXPECT_EQ(Files(), std::set<std::string>{kProgramFile});
  EXPECT_EQ(ReadBytes(dir_ / kProgramFile), new_program_);
  EXPECT_EQ(shell_.started_program, new_program_) << "started before the swap";
  EXPECT_EQ(shell_.opened, std::vector<std::string>{"Marlix.exe||" + dir_.string()});
  EXPECT_EQ(window_.Boxes(), std::vector<std::string>{std::string("notice: ") + kTextUpdated});
  EXPECT_TRUE(window_.ended);
  EXPECT_FALSE(window_.ok_enabled);
  EXPECT_FALSE(window_.cancel_enabled);
  // One move a block, then a full bar.
  EXPECT_EQ(window_.positions, (std::vector<int>{1024, 2048, 3072, kProgressMax}));
  EXPECT_EQ(window_.Of("range"), std::vector<std::string>{"0..500000"});
  const std::vector<std::string> statuses = window_.Of("status");
  const std::vector<std::string> tail(statuses.end() - 6, statuses.end());
  EXPECT_EQ(tail, (std::vector<std::string>{kTextDownloadStarting, kTextDownloading, kTextDownloaded,
                                            kTextDownloadFinished, kTextFinishing, kTextLaunching}));
}

TEST_F(ProgramUpdateTest, PastTheBarsEndTheFullBarIsNotPaintedAgainForEachBlock) {
  const std::string big = WindowsProgram(6 * 1024 + 10, 3);
  versions_.of[big] = {1, 1, 0, 0};
  server_.Serve(kProgramFile, big);
  MakeUpdate(server_.url(), 2000).RunUpdate();
  EXPECT_EQ(ReadBytes(dir_ / kProgramFile), big);
  EXPECT_EQ(window_.positions, (std::vector<int>{1024, 2048, 2000}));
}

TEST_F(ProgramUpdateTest, TheLastMatchingProcessDecidesTheStopResult) {
  ProgramUpdate update = MakeUpdate();
  // Nothing of that name runs: fine, and nothing to wait for.
  processes_.running = {{1, "explorer.exe"}};
  EXPECT_TRUE(update.StopProcessByName("marlix.exe"));
  EXPECT_EQ(window_.Of("status"), std::vector<std::string>{kTextSearching});
  EXPECT_EQ(processes_.waited_ms, 0u);

  // An earlier copy that cannot be stopped is outweighed by a later one that can.
  processes_.running = {{2, "Marlix.exe", false}, {3, "marlix.exe"}};
  EXPECT_TRUE(update.StopProcessByName("marlix.exe"));
  processes_.running = {{4, "marlix.exe"}, {5, "Marlix.exe", false}};
  EXPECT_FALSE(update.StopProcessByName("marlix.exe"));
  EXPECT_EQ(window_.Of("status").back(), kTextCannotStop);

  // Seen ended at the fourth poll: 500 ms, then one wait after each "still active".
  processes_.waited_ms = 0;
  processes_.running = {{6, "Marlix.exe", true, 3}};
  EXPECT_TRUE(update.StopProcessByName("marlix.exe"));
  EXPECT_EQ(processes_.waited_ms, 2000u);
  EXPECT_EQ(window_.Of("status").back(), kTextStopped);

  // Still running after the fifth poll: 3 s in all, and false.
  processes_.waited_ms = 0;
  processes_.running = {{7, "Marlix.exe", true, 99}};
  EXPECT_FALSE(update.StopProcessByName("marlix.exe"));
  EXPECT_EQ(processes_.waited_ms, 3000u);
  EXPECT_EQ(window_.Of("status").back(), kTextNotYetStopped);

  // An exit status that cannot be read is polled again at once.
  processes_.waited_ms = 0;
  processes_.running = {{8, "Marlix.exe", true, 0, false}};
  EXPECT_FALSE(update.StopProcessByName("marlix.exe"));
  EXPECT_EQ(processes_.waited_ms, 500u);
  EXPECT_EQ(window_.Of("status").back(), kTextCannotReadExit);
  EXPECT_TRUE(window_.Boxes().empty()) << "the stop step itself only sets the status";
}

TEST_F(ProgramUpdateTest, AStopThatFailsIsToldButTheUpdateGoesOn) {
  processes_.list_available = false;
  Run();
  EXPECT_EQ(window_.Boxes(),
            (std::vector<std::string>{
                std::string("notice: ") + kTextCannotListProcesses, std::string("notice: ") + kTextStopItYourself,
                std::string("notice: ") + kTextCannotListProcesses, std::string("notice: ") + kTextStopItYourself,
                std::string("notice: ") + kTextUpdated}));
  EXPECT_EQ(ReadBytes(dir_ / kProgramFile), new_program_);

  // An empty list says nothing of its own, but the user is still asked.
  processes_.list_available = true;
  processes_.running.clear();
  const std::string newest = WindowsProgram(5000, 4);
  versions_.of[newest] = {1, 2, 0, 0};
  server_.Serve(kProgramFile, newest);
  window_.log.clear();
  Run();
  EXPECT_EQ(window_.Boxes(), (std::vector<std::string>{std::string("notice: ") + kTextStopItYourself,
                                                       std::string("notice: ") + kTextStopItYourself,
                                                       std::string("notice: ") + kTextUpdated}));
  EXPECT_EQ(ReadBytes(dir_ / kProgramFile), newest);
}

TEST_F(ProgramUpdateTest, AnErrorAnswerOrAPageIsNotInstalledAndOKTriesAgain) {
  const std::vector<std::string> not_programs = {
      "<html><body>404 Not Found</body></html>\n",  // an error page sent with 200
      "MZ but nothing more",                        // no header pointer
      std::string("MZ") + std::string(0x3A, ' ') + std::string("\x40\0\0\0", 4) + std::string("NE\0\0", 4),
  };
  for (const std::string& body : not_programs) {
    server_.Serve(kProgramFile, body);
    window_ = RecordingWindow();
    Run();
    ExpectFailedDownloadLeftProgramAlone();
    EXPECT_EQ(window_.Boxes(), (std::vector<std::string>{std::string("notice: ") + kTextNetworkFailure,
                                                         std::string("notice: ") + kTextCannotDownload}));
    EXPECT_EQ(window_.Of("status").back(), kTextDownloading) << "the last download text stays";
  }

  ServiceServer failing({"Marlix.exe:status=404"});
  failing.Serve(kProgramFile, new_program_);
  window_ = RecordingWindow();
  MakeUpdate(failing.url()).RunUpdate();
  ExpectFailedDownloadLeftProgramAlone();

  // OK runs the whole routine again, the stop steps included.
  processes_.lists = 0;
  server_.Serve(kProgramFile, new_program_);
  Run();
  EXPECT_EQ(processes_.lists, 2);
  EXPECT_EQ(ReadBytes(dir_ / kProgramFile), new_program_);
  EXPECT_TRUE(window_.ended);
}

TEST_F(ProgramUpdateTest, ABodyCutShortOrNoServerLeavesTheProgramAlone) {
  {
    ServiceServer cutting({"Marlix.exe:cut=2000"});
    cutting.Serve(kProgramFile, new_program_);
    MakeUpdate(cutting.url()).RunUpdate();
    ExpectFailedDownloadLeftProgramAlone();
    EXPECT_EQ(window_.Of("notice").front(), kTextNetworkFailure);
    EXPECT_EQ(window_.positions, std::vector<int>{1024}) << "the bar stays where it was";
  }
  window_ = RecordingWindow();
  server_.Stop();
  Run();
  ExpectFailedDownloadLeftProgramAlone();
  EXPECT_EQ(window_.Of("notice").front(), kTextNetworkFailure);
}

TEST_F(ProgramUpdateTest, ALocalFileThatCannotBeWrittenStopsBeforeTheSwap) {
  // A folder where the download is to lie: the file cannot take its place.
  fs::create_directories(dir_ / kNewProgramFile / "x");
  Run();
  EXPECT_EQ(ReadBytes(dir_ / kProgramFile), old_program_);
  EXPECT_FALSE(fs::exists(dir_ / kOldProgramFile));
  EXPECT_FALSE(window_.ended);
  EXPECT_TRUE(window_.ok_enabled);
  ASSERT_EQ(window_.Boxes().size(), 2u);
  EXPECT_EQ(
      window_.Boxes()[0].rfind("warning: " + (dir_ / kNewProgramFile).string() + " 파일을 저장할 수 없습니다.\n\n", 0),
      0u)
      << window_.Boxes()[0];
  EXPECT_EQ(window_.Boxes()[1], std::string("notice: ") + kTextCannotDownload);
  fs::remove_all(dir_ / kNewProgramFile);

  // Writes that fail midway: files of this process may not grow past 2 KB.
  window_ = RecordingWindow();
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 2048;
  setrlimit(RLIMIT_FSIZE, &small);
  Run();
  setrlimit(RLIMIT_FSIZE, &saved);
  ExpectFailedDownloadLeftProgramAlone();
  EXPECT_EQ(window_.Of("warning").size(), 1u);
}

TEST_F(ProgramUpdateTest, AStaleOldProgramIsClearedBeforeTheSwap) {
  WriteBytes(dir_ / kOldProgramFile, "left over from an update that broke off");
  Run();
  EXPECT_EQ(Files(), std::set<std::string>{kProgramFile});
  EXPECT_EQ(ReadBytes(dir_ / kProgramFile), new_program_);
  EXPECT_EQ(window_.Boxes(), std::vector<std::string>{std::string("notice: ") + kTextUpdated});
}

TEST_F(ProgramUpdateTest, TheOldProgramComesBackWhenTheNewOneCannotTakeItsName) {
  files_.refused = {"rename Marlix_New.exe Marlix.exe"};
  Run();
  EXPECT_EQ(ReadBytes(dir_ / kProgramFile), old_program_);
  EXPECT_FALSE(fs::exists(dir_ / kOldProgramFile));
  EXPECT_EQ(shell_.started_program, old_program_) << "the stopped program runs again";
  EXPECT_EQ(window_.Boxes(), (std::vector<std::string>{std::string("notice: ") + kTextCannotPlaceNew,
                                                       std::string("notice: ") + kTextUpdateEnds}));
  EXPECT_TRUE(window_.ended);

  // Even when it cannot go back, the only copy is kept.
  fs::remove(dir_ / kNewProgramFile);
  files_.refused.insert("rename Marlix_old.exe Marlix.exe");
  window_ = RecordingWindow();
  shell_.program_starts = false;
  Run();
  EXPECT_FALSE(fs::exists(dir_ / kProgramFile));
  EXPECT_EQ(ReadBytes(dir_ / kOldProgramFile), old_program_);
  EXPECT_EQ(window_.Of("notice").front(), kTextCannotPlaceNew);
  EXPECT_EQ(window_.Of("notice")[1], kTextCannotMoveBack);
  EXPECT_EQ(window_.Of("notice").back(), kTextUpdateEnds);
}

TEST_F(ProgramUpdateTest, AProgramThatCannotBeMovedAsideStaysAndIsNotReportedUpdated) {
  // Held by another program; or a stale old copy that cannot be removed.
  for (const std::string refused : {"rename Marlix.exe Marlix_old.exe", "remove Marlix_old.exe"}) {
    if (refused.rfind("remove", 0) == 0) WriteBytes(dir_ / kOldProgramFile, "stale");
    files_.refused = {refused};
    window_ = RecordingWindow();
    Run();
    EXPECT_EQ(ReadBytes(dir_ / kProgramFile), old_program_) << refused;
    EXPECT_EQ(window_.Boxes(), (std::vector<std::string>{std::string("notice: ") + kTextCannotMoveAside,
                                                         std::string("notice: ") + kTextCannotPlaceNew,
                                                         std::string("notice: ") + kTextUpdateEnds}))
        << refused;
  }
  EXPECT_EQ(ReadBytes(dir_ / kOldProgramFile), "stale") << "not the program: nothing to lose";
}

TEST_F(ProgramUpdateTest, AnOldProgramThatCannotBeDeletedIsToldAndTheUpdateStands) {
  files_.refused = {"remove Marlix_old.exe"};
  Run();
  EXPECT_EQ(ReadBytes(dir_ / kProgramFile), new_program_);
  EXPECT_EQ(ReadBytes(dir_ / kOldProgramFile), old_program_);
  EXPECT_EQ(window_.Boxes(), (std::vector<std::string>{std::string("notice: ") + kTextCannotRemoveOld,
                                                       std::string("notice: ") + kTextUpdated}));
}

TEST_F(ProgramUpdateTest, AProgramThatCannotStartIsToldWithItsPathAndItsFolderOpens) {
  shell_.program_starts = false;
  Run();
  EXPECT_EQ(ReadBytes(dir_ / kProgramFile), new_program_);
  const std::string path = (dir_ / kProgramFile).string();
  EXPECT_EQ(window_.Boxes(), (std::vector<std::string>{"warning: 우편번호검색 프로그램을 실행할 수 없습니다.\n\n" +
                                                           path + " 프로그램이 있는지 확인하십시오",
                                                       std::string("notice: ") + kTextUpdateEnds}));
  EXPECT_EQ(shell_.opened.back(), "explorer.exe|" + dir_.string() + "|" + dir_.string());
  EXPECT_TRUE(window_.ended);
}

// With a manifest on the server only the program its record names is
// installed: that size, that SHA-256, that version, and above the installed
// one. Anything else, signed or not, leaves the old program byte for byte.
TEST_F(ProgramUpdateTest, WithAManifestOnlyTheProgramItListsIsInstalled) {
  using marlix_test::ProgramManifest;
  const std::string other = WindowsProgram(new_program_.size(), 5);  // signed too, and as large
  versions_.of[other] = {1, 1, 0, 0};
  const std::string not_listed = kTextNotListedProgram;
  struct Case {
    std::string served;    // Marlix.exe
    std::string manifest;  // manifest.txt
    std::string line;      // under "cannot download"
  };
  const std::vector<Case> refused = {
      {new_program_, ProgramManifest(3, "1.1.0.0", other), not_listed},
      {other, ProgramManifest(3, "1.1.0.0", new_program_), not_listed},
      {new_program_, ProgramManifest(3, "1.2", new_program_), not_listed},  // the file says 1.1
      {new_program_, ProgramManifest(3, "", ""), not_listed},               // no program record
      {old_program_, ProgramManifest(3, "1.0.0.0", old_program_),
       marlix::FormatText(kTextNotNewerFormat, "1.0.0.0", "1.0.0.0")},
      {new_program_, "marlix-manifest 1\nedition 3\n", marlix::RefusalText(marlix::Refusal::kBadManifest, "")},
  };
  for (const Case& c : refused) {
    server_.Serve(kProgramFile, c.served);
    server_.Serve(marlix::kManifestFile, c.manifest);
    window_ = RecordingWindow();
    Run();
    SCOPED_TRACE(c.manifest);
    EXPECT_EQ(ReadBytes(dir_ / kProgramFile), old_program_);
    EXPECT_EQ(Files(), std::set<std::string>{kProgramFile});
    EXPECT_FALSE(window_.ended);
    EXPECT_TRUE(shell_.opened.empty());
    EXPECT_EQ(window_.Boxes().back(), std::string("notice: ") + kTextCannotDownload + "\n" + c.line);
  }
  // A manifest that is not the publisher's names nothing either.
  server_.Serve(kProgramFile, new_program_);
  server_.Serve(marlix::kManifestFile, ProgramManifest(3, "1.1", new_program_));
  server_.Serve(std::string(marlix::kManifestFile) + ".sig", "not the publisher's signature");
  window_ = RecordingWindow();
  Run();
  EXPECT_EQ(ReadBytes(dir_ / kProgramFile), old_program_);
  EXPECT_EQ(window_.Boxes().back(), std::string("notice: ") + kTextCannotDownload + "\n" +
                                        marlix::RefusalText(marlix::Refusal::kBadSignature, marlix::kManifestFile));

  // Nor does a manifest that did not come: only a service with none (404) is
  // trusted by signature alone.
  fs::remove(server_.root() / (std::string(marlix::kManifestFile) + ".sig"));
  Control(server_, "fault?name=manifest.txt&status=500");
  window_ = RecordingWindow();
  Run();
  EXPECT_EQ(ReadBytes(dir_ / kProgramFile), old_program_);
  EXPECT_EQ(window_.Boxes(), (std::vector<std::string>{std::string("notice: ") + kTextNetworkFailure,
                                                       std::string("notice: ") + kTextCannotDownload}));

  Control(server_, "clear");
  window_ = RecordingWindow();
  Run();
  EXPECT_EQ(ReadBytes(dir_ / kProgramFile), new_program_);
  EXPECT_EQ(window_.Boxes(), std::vector<std::string>{std::string("notice: ") + kTextUpdated});
  // The manifest gives the program's size: the bar is full when the download is, not before.
  const int size = static_cast<int>(new_program_.size());
  EXPECT_EQ(window_.Of("range"), std::vector<std::string>{"0.." + std::to_string(size)});
  EXPECT_EQ(window_.positions.back(), size);
}

TEST_F(ProgramUpdateTest, ASecondStartWhileTheUpdateRunsDoesNothing) {
  ProgramUpdate update = MakeUpdate();
  // The pending first tick arrives in the loop of the first message box.
  processes_.list_available = false;
  int nested = 0;
  window_.on_box = [&] {
    ++nested;
    EXPECT_TRUE(update.Running());
    update.RunUpdate();
  };
  update.RunUpdate();
  EXPECT_FALSE(update.Running());
  EXPECT_EQ(processes_.lists, 2) << "one stop step per name, once";
  EXPECT_EQ(nested, 5);
  EXPECT_EQ(window_.Of("notice").back(), kTextUpdated);
  EXPECT_EQ(ReadBytes(dir_ / kProgramFile), new_program_);
  EXPECT_EQ(Files(), std::set<std::string>{kProgramFile});
}

}  // namespace

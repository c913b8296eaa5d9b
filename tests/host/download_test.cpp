// The data download over libcurl against the test service server: what lands
// in the local folder, byte for byte, and what the status line says.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cp949_literal.h"
#include "data_download.h"
#include "service_server.h"

namespace {

namespace fs = std::filesystem;
using marlix::DownloadResult;
using marlix_test::NowSeconds;
using marlix_test::PatternBytes;
using marlix_test::ReadBytes;
using marlix_test::ServiceServer;
using marlix::testing::operator""_cp949;

// A post.csv of `size` bytes: its header row, then any bytes.
std::string CodeNames(std::size_t size, unsigned seed) {
  const std::string header = "우편번호,시도,시군구,도로명 수,건물 수\r\n"_cp949;
  return header + PatternBytes(size - header.size(), seed);
}

// Data lines, `size` bytes of them.
std::string DataLines(std::size_t size) {
  std::string lines;
  for (int i = 0; lines.size() < size; ++i) lines += "135-" + std::to_string(100 + i % 900) + " 서울 강남구 역삼동\r\n";
  return lines;
}

// What one download told its window.
struct Told {
  marlix::DownloadOutcome outcome;
  std::vector<std::string> statuses;
  std::vector<std::string> local_failures;
  std::map<std::string, std::uint64_t> done;
};

Told Download(const std::string& base_url, const std::string& folder, unsigned timeout_ms = 2000,
              const std::atomic<bool>* cancel = nullptr) {
  Told run;
  marlix::DownloadEvents events;
  events.status = [&](const std::string& text) { run.statuses.push_back(text); };
  events.local_failure = [&](const std::string& text) { run.local_failures.push_back(text); };
  events.file_done = [&](const std::string& name, std::uint64_t bytes) { run.done[name] = bytes; };
  marlix::ServiceAccess access;
  access.base_url = base_url;
  access.timeout_ms = timeout_ms;
  run.outcome = marlix::DownloadDataFiles(access, "Marlix", folder, events, cancel);
  return run;
}

std::string Downloading(const fs::path& path) { return path.string() + " 다운로드..."; }

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = marlix_test::MakeTempDir("data"); }
  void TearDown() override { fs::remove_all(folder_); }

  // The server's files and older local copies that differ from them.
  std::map<std::string, std::string> ServeAll(const ServiceServer& server) {
    std::map<std::string, std::string> files = {
        {"post.csv", CodeNames(3 * 1024, 3)},
        {"postcode.txt", "135-080 서울 강남구 역삼동\r\n135-081 서울 강남구 역삼1동\r\n" + DataLines(5000)},
        {"postver.txt", "2026.12\r\n우편번호 자료\r\n"}};
    for (const auto& [name, bytes] : files) server.Serve(name, bytes);
    return files;
  }
  std::map<std::string, std::string> PlaceOldCopies() {
    std::map<std::string, std::string> old;
    for (const char* name : marlix::kDataFiles) {
      old[name] = std::string("old ") + name + "\n";
      marlix_test::WriteBytes(folder_ / name, old[name]);
    }
    return old;
  }
  void ExpectNoTemporaryFiles() {
    for (const auto& entry : fs::directory_iterator(folder_)) {
      EXPECT_NE(entry.path().extension(), ".part") << "left behind: " << entry.path();
    }
  }

  fs::path folder_;
};

TEST_F(DownloadTest, AllThreeFilesReplaceTheOldOnesInOrder) {
  ServiceServer server;
  const auto files = ServeAll(server);
  PlaceOldCopies();
  const Told run = Download(server.url(), folder_);
  EXPECT_EQ(run.outcome.result, DownloadResult::kComplete) << run.outcome.detail;
  for (const auto& [name, bytes] : files) {
    EXPECT_EQ(ReadBytes(folder_ / name), bytes) << name;
    EXPECT_EQ(run.done.at(name), bytes.size()) << name;
  }
  const std::vector<std::string> expected = {"서버에 연결 중입니다.", Downloading(folder_ / "post.csv"),
                                             Downloading(folder_ / "postcode.txt"),
                                             Downloading(folder_ / "postver.txt"), "다운로드가 완료되었습니다."};
  EXPECT_EQ(run.statuses, expected);
  EXPECT_TRUE(run.local_failures.empty());
  ExpectNoTemporaryFiles();
  // A second press fetches everything again.
  server.Serve("postver.txt", "2027.01\r\n");
  EXPECT_EQ(Download(server.url(), folder_).outcome.result, DownloadResult::kComplete);
  EXPECT_EQ(ReadBytes(folder_ / "postver.txt"), "2027.01\r\n");
  // A cancelled one changes nothing and reports no failure to save.
  const auto old = PlaceOldCopies();
  const std::atomic<bool> cancel{true};
  const Told cancelled = Download(server.url(), folder_, 2000, &cancel);
  EXPECT_EQ(cancelled.outcome.result, DownloadResult::kCancelled);
  EXPECT_EQ(cancelled.statuses.back(), "다운로드를 취소했습니다.");
  EXPECT_TRUE(cancelled.local_failures.empty());
  for (const auto& [name, bytes] : old) EXPECT_EQ(ReadBytes(folder_ / name), bytes) << name;
  ExpectNoTemporaryFiles();
}

TEST_F(DownloadTest, LengthsAroundTheBlockSizeArriveWhole) {
  ServiceServer server;
  ServeAll(server);
  for (std::size_t size : {40u, 1023u, 1024u, 1025u, 2048u, 64u * 1024u, 64u * 1024u + 1u}) {
    const std::string bytes = CodeNames(size, static_cast<unsigned>(size));
    server.Serve("post.csv", bytes);
    const Told run = Download(server.url(), folder_);
    ASSERT_EQ(run.outcome.result, DownloadResult::kComplete) << size;
    EXPECT_EQ(ReadBytes(folder_ / "post.csv"), bytes) << size;
  }
}

TEST_F(DownloadTest, AFiftyMegabyteFileArrivesWhole) {
  ServiceServer server;
  ServeAll(server);
  const std::string big = CodeNames(50u * 1024u * 1024u, 50);
  server.Serve("post.csv", big);
  const double start = NowSeconds();
  const Told run = Download(server.url(), folder_);
  const double seconds = NowSeconds() - start;
  ASSERT_EQ(run.outcome.result, DownloadResult::kComplete) << run.outcome.detail;
  EXPECT_TRUE(ReadBytes(folder_ / "post.csv") == big);
  RecordProperty("seconds", std::to_string(seconds));
  std::printf("50 MB download: %.2f s\n", seconds);
}

// A failure at the second file: the first is new, the second and third are
// the old copies, and the status line ends at the network text.
struct Fault {
  const char* faults;
  const char* why;
};

void PrintTo(const Fault& fault, std::ostream* os) { *os << fault.why; }

class SecondFileFails : public DownloadTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(SecondFileFails, KeepsTheOldFilesAndSaysSo) {
  ServiceServer server({std::string("postcode.txt:") + GetParam().faults});
  const auto files = ServeAll(server);
  const auto old = PlaceOldCopies();
  const double start = NowSeconds();
  const Told run = Download(server.url(), folder_, 1000);
  EXPECT_LT(NowSeconds() - start, 3.0) << "bounded by the time-out";
  EXPECT_EQ(run.outcome.result, DownloadResult::kNetworkFailure);
  EXPECT_EQ(run.outcome.file, "postcode.txt");
  EXPECT_EQ(ReadBytes(folder_ / "post.csv"), files.at("post.csv"));
  EXPECT_EQ(ReadBytes(folder_ / "postcode.txt"), old.at("postcode.txt"));
  EXPECT_EQ(ReadBytes(folder_ / "postver.txt"), old.at("postver.txt"));
  ASSERT_FALSE(run.statuses.empty());
  EXPECT_EQ(run.statuses.back(), "네트워크 연결을 확인해 주세요.");
  EXPECT_TRUE(run.local_failures.empty());
  ExpectNoTemporaryFiles();
}

INSTANTIATE_TEST_SUITE_P(Faults, SecondFileFails,
                         ::testing::Values(Fault{"status=404", "an error page"}, Fault{"status=500", "a server error"},
                                           Fault{"cut=2000", "a body cut short"},
                                           Fault{"cut=0", "a connection dropped after the headers"},
                                           Fault{"delay=5000", "no answer within the time-out"}),
                         [](const auto& info) {
                           std::string name = info.param.faults;
                           for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

TEST_F(DownloadTest, WithNoServerTheFolderIsMadeAndNothingElseChanges) {
  ServiceServer server;
  const std::string url = server.url();
  server.Stop();
  const fs::path folder = folder_ / "postcode";
  const Told run = Download(url, folder);
  EXPECT_EQ(run.outcome.result, DownloadResult::kNetworkFailure);
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_TRUE(fs::is_empty(folder));
  EXPECT_EQ(run.statuses, (std::vector<std::string>{"서버에 연결 중입니다.", "네트워크 연결을 확인해 주세요."}));
}

TEST_F(DownloadTest, AFileThatCannotBeWrittenStopsTheDownloadWithAReport) {
  ServiceServer server;
  const auto files = ServeAll(server);
  const auto old = PlaceOldCopies();
  // A folder in the place of the second file: it cannot be replaced.
  fs::remove(folder_ / "postcode.txt");
  fs::create_directory(folder_ / "postcode.txt");
  const Told run = Download(server.url(), folder_);
  EXPECT_EQ(run.outcome.result, DownloadResult::kLocalFileFailure);
  EXPECT_EQ(run.outcome.file, "postcode.txt");
  ASSERT_EQ(run.local_failures.size(), 1u);
  EXPECT_EQ(run.local_failures[0].rfind((folder_ / "postcode.txt").string() + " 파일을 저장할 수 없습니다.", 0), 0u)
      << run.local_failures[0];
  EXPECT_EQ(ReadBytes(folder_ / "post.csv"), files.at("post.csv"));
  EXPECT_TRUE(fs::is_directory(folder_ / "postcode.txt"));
  EXPECT_EQ(ReadBytes(folder_ / "postver.txt"), old.at("postver.txt")) << "not fetched after the failure";
  // The status line keeps what it had; it does not blame the network.
  EXPECT_EQ(run.statuses.back(), Downloading(folder_ / "postcode.txt"));
  ExpectNoTemporaryFiles();
}

TEST_F(DownloadTest, AWriteThatFailsMidwayKeepsTheOldFile) {
  ServiceServer server;
  const auto files = ServeAll(server);
  server.Serve("postcode.txt", DataLines(256 * 1024));
  const auto old = PlaceOldCopies();
  // Files of this process may not grow past 64 KB: the second file's writes fail.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 64 * 1024;
  setrlimit(RLIMIT_FSIZE, &small);
  const Told run = Download(server.url(), folder_);
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(run.outcome.result, DownloadResult::kLocalFileFailure);
  EXPECT_EQ(run.outcome.file, "postcode.txt");
  EXPECT_EQ(run.local_failures.size(), 1u);
  EXPECT_EQ(ReadBytes(folder_ / "post.csv"), files.at("post.csv"));
  EXPECT_EQ(ReadBytes(folder_ / "postcode.txt"), old.at("postcode.txt"));
  EXPECT_EQ(ReadBytes(folder_ / "postver.txt"), old.at("postver.txt"));
  ExpectNoTemporaryFiles();
}

TEST_F(DownloadTest, AFolderThatCannotBeMadeStopsAtTheFirstFile) {
  ServiceServer server;
  ServeAll(server);
  marlix_test::WriteBytes(folder_ / "file", "a file, not a folder");
  const Told run = Download(server.url(), (folder_ / "file" / "postcode").string());
  EXPECT_EQ(run.outcome.result, DownloadResult::kLocalFileFailure);
  EXPECT_EQ(run.outcome.file, "post.csv");
  EXPECT_EQ(run.local_failures.size(), 1u);
  EXPECT_EQ(run.statuses, std::vector<std::string>{"서버에 연결 중입니다."});
}

}  // namespace

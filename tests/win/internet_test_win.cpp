// The internet access over WinInet, with the update routines on top of it,
// against the host's test service server that ctest starts for these tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "data_download.h"
#include "data_set.h"
#include "data_version.h"
#include "internet.h"
#include "server_url.h"
#include "test_server_win.h"
#include "version_check.h"

namespace {

using marlix_test::ReadBytes;
using marlix_test::Serve;
using marlix_test::Wide;
using marlix_test::WriteBytes;

const std::string kState = marlix_test::kServerState;

std::string Bytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed * 7 + i / 251) & 0xFF);
  return bytes;
}

class WinInetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = marlix_test::TestServerUrl();
    ASSERT_FALSE(base_.empty()) << "no test server: " << kState;
  }
  std::string Url(const std::string& name) const { return marlix::ServiceFileUrl(base_, name); }
  // Sets a fault of the shared server on one file name of this test's own.
  void Fault(const std::string& name, const std::string& query) {
    CInternetSession session("test");
    auto answer = session.OpenURL(base_ + "/_control/fault?name=" + name + "&" + query);
    ASSERT_EQ(marlix::AnswerStatus(*answer), 200ul);
  }
  std::string base_;
};

TEST_F(WinInetTest, LinesBlocksAndTheStatusComeAsOverLibcurl) {
  Serve("wininet-lines.txt", "one\r\ntwo\n\r\nth\rree\nlast");
  const std::string block_file = Bytes(5 * 1024 + 1, 1);
  Serve("wininet-blocks.bin", block_file);
  CInternetSession session("test");

  auto file = session.OpenURL(Url("wininet-lines.txt"));
  file->SetReadBufferSize(3);
  std::vector<std::string> lines;
  for (std::string line; file->ReadString(line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "", "three", "last"}));
  EXPECT_EQ(marlix::AnswerStatus(*file), 200ul);
  file->Close();
  file->Close();

  file = session.OpenURL(Url("wininet-blocks.bin"));
  std::string got;
  std::vector<unsigned> sizes;
  char block[1024];
  for (unsigned n = sizeof block; n == sizeof block;) {
    n = file->Read(block, sizeof block);
    got.append(block, n);
    sizes.push_back(n);
  }
  EXPECT_EQ(got, block_file);
  EXPECT_EQ(sizes, (std::vector<unsigned>{1024, 1024, 1024, 1024, 1024, 1}));

  file = session.OpenURL(Url("wininet-missing.txt"));
  EXPECT_EQ(marlix::AnswerStatus(*file), 404ul);

  Fault("wininet-moved.txt", "redirect=wininet-lines.txt");
  file = session.OpenURL(Url("wininet-moved.txt"));
  EXPECT_EQ(marlix::AnswerStatus(*file), 200ul);
  std::string line;
  EXPECT_TRUE(file->ReadString(line));
  EXPECT_EQ(line, "one");
}

TEST_F(WinInetTest, ABodyCutShortIsAFailureNotAnEnd) {
  Serve("wininet-cut.bin", Bytes(10000, 2));
  Fault("wininet-cut.bin", "cut=3000");
  CInternetSession session("test");
  auto file = session.OpenURL(Url("wininet-cut.bin"));
  char block[1024];
  EXPECT_THROW(
      {
        while (file->Read(block, sizeof block) > 0) {
        }
      },
      CInternetException);
}

TEST_F(WinInetTest, ThePartAskedForComesWithItsOffsetOrTheWholeFileInstead) {
  const std::string body = Bytes(10000, 5);
  for (const char* name : {"wininet-part.bin", "wininet-norange.bin", "wininet-rangecut.bin"}) Serve(name, body);
  Fault("wininet-norange.bin", "norange=1");
  Fault("wininet-rangecut.bin", "cut=1000");
  struct Row {
    const char* name;
    std::uint64_t from;
    unsigned long status;
    std::uint64_t offset;  // BodyOffset
    bool cut;              // the body drops part-way: a failure, as for any cut
  };
  const Row rows[] = {
      {"wininet-part.bin", 4000, 206, 4000, false},     // the rest from the middle
      {"wininet-norange.bin", 4000, 200, 0, false},     // a server that ignores Range
      {"wininet-rangecut.bin", 4000, 206, 4000, true},  // cut=N counts the ranged body
      {"wininet-part.bin", 10000, 416, 0, false},       // nothing is left
  };
  CInternetSession session("test");
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name) + " from " + std::to_string(row.from));
    auto file = session.OpenURL(Url(row.name), row.from);
    EXPECT_EQ(marlix::AnswerStatus(*file), row.status);
    EXPECT_EQ(marlix::AnsweredWithFile(*file), row.status != 416);
    EXPECT_EQ(file->BodyOffset(), row.offset);
    EXPECT_EQ(file->TotalLength(), body.size());
    if (row.status == 416) continue;
    std::string got;
    char block[1024];
    bool thrown = false;
    try {
      for (unsigned n; (n = file->Read(block, sizeof block)) > 0;) got.append(block, n);
    } catch (const CInternetException&) {
      thrown = true;
    }
    EXPECT_EQ(thrown, row.cut);
    EXPECT_LE(got.size(), row.cut ? 1000u : body.size());
    EXPECT_EQ(got, body.substr(row.offset, row.cut ? got.size() : body.size()));
  }
}

TEST_F(WinInetTest, NoServerThrows) {
  CInternetSession session("test");
  session.SetTimeouts(2000, 2000);
  // Nothing listens on port 1 of the loopback address.
  EXPECT_THROW(session.OpenURL("http://127.0.0.1:1/zipcode/search/x.txt"), CInternetException);
}

TEST_F(WinInetTest, AnAnswerLaterThanTheReceiveTimeOutFails) {
  Serve("wininet-slow.txt", "slow\n");
  Fault("wininet-slow.txt", "delay=5000");
  CInternetSession session("test");
  session.SetTimeouts(1000, 1000);
  const DWORD start = GetTickCount();
  EXPECT_THROW(session.OpenURL(Url("wininet-slow.txt")), CInternetException);
  const DWORD waited = GetTickCount() - start;
  EXPECT_GE(waited, 900u);
  EXPECT_LT(waited, 3500u);
}

// WinInet's time-outs start again at every byte. A trickle is cut off by the
// rate floor as over libcurl; a small file's deadline also bounds the wait
// for the headers, which WinInet takes in one call.
TEST_F(WinInetTest, ATrickleMeetsTheRateFloorAndASmallFileItsDeadline) {
  _putenv_s("MARLIX_RATE_FLOOR", "1024/1500");
  _putenv_s("MARLIX_SMALL_FILE_DEADLINE_MS", "1000");
  struct Row {
    const char* name;
    const char* fault;
    bool small;  // fetched within the small files' deadline
  };
  const Row rows[] = {
      {"wininet-trickle.bin", "rate=100", false},
      {"wininet-late.bin", "delay=3000", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Serve(row.name, Bytes(20000, 7));
    Fault(row.name, row.fault);
    CInternetSession session("test");
    const DWORD start = GetTickCount();
    std::optional<marlix::internet::Failure> failure;
    try {
      auto file = session.OpenURL(Url(row.name), 0, row.small ? marlix::internet::SmallFileDeadlineMs() : 0);
      char block[1024];
      while (file->Read(block, sizeof block) > 0) {
      }
    } catch (const CInternetException& e) {
      failure = e.failure();
    }
    const DWORD waited = GetTickCount() - start;
    EXPECT_EQ(failure, marlix::internet::Failure::kTimeout);
    EXPECT_LT(waited, row.small ? 2000u : 2500u);
  }
  _putenv_s("MARLIX_RATE_FLOOR", "");
  _putenv_s("MARLIX_SMALL_FILE_DEADLINE_MS", "");
}

// Wine shows a link of the file system to a folder as a reparse point, as
// Windows shows a junction. One in the work folder's place is refused before
// anything reads the folder, and never followed: the set and what the link
// leads to stay as they were.
TEST(ReparsePoints, AReparsePointAsTheWorkFolderIsRefusedNotFollowed) {
  const std::string root = kState + "/reparse", folder = root + "/data", work = folder + "/.update";
  const std::string elsewhere = root + "/elsewhere", old_line = "999-001 old\r\n";
  // The link made and removed the way a user's shell does it: Wine runs Linux
  // programs, though it does not wait for them, so the test waits for what
  // each brings about.
  auto shell = [](const std::string& script, const std::function<bool()>& done) {
    std::wstring command = Wide("Z:\\bin\\sh -c \"" + script + "\"");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(L"Z:\\bin\\sh", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int waited = 0; !done() && waited < 10000; waited += 50) Sleep(50);
    ASSERT_TRUE(done()) << script;
  };
  auto there = [](const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  };
  if (there(root)) shell("rm -rf " + root.substr(2), [&] { return !there(root); });
  for (const std::string& made : {root, folder, elsewhere}) CreateDirectoryA(made.c_str(), nullptr);
  for (const char* name : marlix::kDataFiles) {
    WriteBytes(folder + "/" + name, old_line);
    WriteBytes(elsewhere + "/" + name, "999-003 foreign\r\n");
  }
  WriteBytes(elsewhere + "/commit", "whole\n");
  shell("ln -s " + elsewhere.substr(2) + " " + work.substr(2), [&] {
    return (GetFileAttributesW(Wide(work).c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && there(work + "/commit");
  });

  EXPECT_FALSE(marlix::RecoverDataSet(folder));
  for (const char* name : marlix::kDataFiles) {
    EXPECT_EQ(ReadBytes(folder + "/" + name), old_line) << name;
    EXPECT_EQ(ReadBytes(elsewhere + "/" + name), "999-003 foreign\r\n") << name;
  }
  EXPECT_EQ(ReadBytes(elsewhere + "/commit"), "whole\n");
  shell("rm -rf " + root.substr(2), [&] { return !there(root); });
}

TEST_F(WinInetTest, TheDataVersionPanelTextComesOverWinInet) {
  Serve("postver.txt", "2026.12\n우편번호 자료\r\n");
  marlix::ServiceAccess access;
  access.base_url = base_;
  std::vector<std::string> statuses;
  const marlix::DataVersion version =
      marlix::FetchDataVersion(access, [&](const std::string& text) { statuses.push_back(text); });
  EXPECT_TRUE(version.fetched);
  EXPECT_EQ(version.text.bytes(), "2026.12\r\n우편번호 자료\r\n");
  EXPECT_EQ(statuses, (std::vector<std::string>{"서버에 연결 중입니다...", "우편번호 버전 정보입니다."}));
}

TEST_F(WinInetTest, TheDataDownloadAndTheVersionCheckWorkOverWinInet) {
  // The routines fetch from fixed names: this test owns them on the shared server.
  const std::string folder = kState + "/wininet-download";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::vector<std::string> served = {
      marlix_test::Cp949("우편번호,시도,시군구,도로명 수,건물 수\r\n") + Bytes(3 * 1024, 3),
      "135-080 서울 강남구 역삼동\r\n", "2026.12\r\n"};
  for (int i = 0; i < 3; ++i) Serve(marlix::kDataFiles[i], served[i]);
  WriteBytes(folder + "\\postver.txt", "old\r\n");

  marlix::ServiceAccess access;
  access.base_url = base_;
  std::vector<std::string> statuses;
  marlix::DownloadEvents events;
  events.status = [&](const std::string& text) { statuses.push_back(text); };
  const marlix::DownloadOutcome outcome = marlix::DownloadDataFiles(access, "Marlix", folder, events);
  ASSERT_EQ(outcome.result, marlix::DownloadResult::kComplete) << outcome.detail;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadBytes(folder + "\\" + marlix::kDataFiles[i]), served[i]) << i;
  ASSERT_EQ(statuses.size(), 5u);
  EXPECT_EQ(statuses[1], folder + "\\post.csv 다운로드...");
  EXPECT_EQ(statuses.back(), "다운로드가 완료되었습니다.");

  // A failure keeps the old file (the error page is not stored).
  Fault("postver.txt", "status=404");
  EXPECT_EQ(marlix::DownloadDataFiles(access, "Marlix", folder, events).result,
            marlix::DownloadResult::kNetworkFailure);
  EXPECT_EQ(ReadBytes(folder + "\\postver.txt"), served[2]);
  EXPECT_EQ(statuses.back(), "네트워크 연결을 확인해 주세요.");
  Fault("postver.txt", "");

  Serve("MarlixVer.ini", "[Marlix]\r\n  zipver=1.1\r\n");
  EXPECT_EQ(marlix::FetchServerVersion(access, "Marlix"), "1.1");
}

}  // namespace

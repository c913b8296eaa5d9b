// The update tab of Marlix.exe's search window against the host's test service
// server: the server's data version in the panel, the download of the three
// data files by "업데이트" and by a search that finds no data file, a signed
// edition fetched in the background, cancelled and resumed while the window
// answers, and what happens with no server at all.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "answer_watch_win.h"
#include "data_update.h"
#include "manifest.h"
#include "marlix_driver_win.h"
#include "resource.h"
#include "server_control_win.h"

namespace {

using namespace marlix_test;

constexpr const char* kDataFiles[] = {"post.csv", "postcode.txt", "postver.txt"};
constexpr wchar_t kNetworkFailure[] = L"네트워크 연결을 확인해 주세요.";

std::string LocalPath(const char* name) { return std::string(kDataDir) + "\\" + name; }
std::string ServedPath(const char* name) { return kServerState + "/root/" + name; }

// Data files of our own: a post.csv of exactly three blocks, its header row
// and then every byte value, two lines of postcode data that the real data
// does not hold, and a version.
std::vector<std::string> SmallDataFiles(char edition) {
  std::string csv = Cp949("우편번호,시도,시군구,도로명 수,건물 수\r\n");
  for (std::size_t i = csv.size(); i < 3 * 1024; ++i) csv += static_cast<char>((i * 7 + edition) & 0xFF);
  return {csv,
          Cp949(std::string("999-001 시험시 ") + edition + "동\r\n999-002 시험시 " + edition + "동 시험아파트\r\n"),
          std::string("2026.12.0") + edition + "\r\n"};
}

void ServeAll(const std::vector<std::string>& files) {
  for (int i = 0; i < 3; ++i) Serve(kDataFiles[i], files[i]);
}

std::vector<std::string> LocalFiles() {
  std::vector<std::string> files;
  for (const char* name : kDataFiles) files.push_back(ReadBytes(LocalPath(name)));
  return files;
}

// An edition of the data on the server: the three files and their manifest.
void ServeEdition(std::uint64_t edition, const std::vector<std::string>& files) {
  marlix::Manifest manifest;
  manifest.edition = edition;
  manifest.published = "2026-12-08";
  for (int i = 0; i < 3; ++i) {
    marlix::signature::Sha256 hash;
    hash.Add(files[i].data(), files[i].size());
    manifest.files.push_back({kDataFiles[i], files[i].size(), hash.Finish().value(), {}});
    Serve(kDataFiles[i], files[i]);
  }
  Serve(marlix::kManifestFile, marlix::ManifestText(manifest));
}

void WriteLocalFiles(const std::vector<std::string>& files) {
  ::CreateDirectoryA(kDataDir, nullptr);
  for (int i = 0; i < 3; ++i) WriteBytes(LocalPath(kDataFiles[i]), files[i]);
}

class DataUpdateWindow : public ::testing::Test, protected Marlix {
 protected:
  void SetUp() override {
    server_ = TestServerUrl();
    ASSERT_FALSE(server_.empty()) << "no test server";
    // No newer program: the start-up must not hand over to the updater.
    Serve("MarlixVer.ini", "[Marlix]\r\nzipver=1.0\r\n");
    ::CreateDirectoryA(kDataDir, nullptr);
    ::SetFileAttributesA(kDataFile, FILE_ATTRIBUTE_NORMAL);
    ForgetEditions();
  }
  // Later tests search the real data, and fetch the data file by file.
  void TearDown() override {
    End();
    InstallRealData();
    ForgetEditions();
  }
  static void ForgetEditions() {
    ::DeleteFileA(ServedPath(marlix::kManifestFile).c_str());
    ::DeleteFileA(LocalPath(marlix::kManifestFile).c_str());
    std::error_code ignored;
    std::filesystem::remove_all(LocalPath(marlix::kWorkFolder), ignored);
  }

  std::string server_;
};

TEST_F(DataUpdateWindow, ThePanelShowsTheServersDataVersionEachTimeTheTabIsChosen) {
  Serve("postver.txt", Cp949("2026.12.07\n우편번호 자료\r\n52144건"));
  ASSERT_TRUE(StartWithSearchWindow(server_));
  SelectTab(2);
  EXPECT_EQ(WaitForText(IDC_DATA_VERSION, L"2026.12.07\r\n우편번호 자료\r\n52144건\r\n"),
            L"2026.12.07\r\n우편번호 자료\r\n52144건\r\n");
  EXPECT_EQ(Text(IDC_UPDATE_STATUS), L"우편번호 버전 정보입니다.");

  // An answer that comes after the tab was left is dropped: the slow failure
  // of the first fetch does not overwrite what the second one showed.
  SetFault(server_, "postver.txt", "delay=1500&status=404");
  SelectTab(0);
  SelectTab(2);
  SetFault(server_, "postver.txt", "");
  Serve("postver.txt", "2027.01.01\n");
  SelectTab(0);
  SelectTab(2);
  EXPECT_EQ(WaitForText(IDC_DATA_VERSION, L"2027.01.01\r\n"), L"2027.01.01\r\n");
  ::Sleep(2000);
  EXPECT_EQ(Text(IDC_UPDATE_STATUS), L"우편번호 버전 정보입니다.");
  EXPECT_EQ(Text(IDC_DATA_VERSION), L"2027.01.01\r\n");
}

TEST_F(DataUpdateWindow, UpdateDownloadsTheThreeFilesAndKeepsTheOldOnesOnAFailure) {
  const std::vector<std::string> first = SmallDataFiles('1');
  ServeAll(first);
  WriteLocalFiles({"old csv", "old postcode", "old version"});
  ASSERT_TRUE(StartWithSearchWindow(server_));
  SelectTab(2);
  Click(IDC_UPDATE);
  ASSERT_TRUE(WaitUpdateEnded());
  EXPECT_EQ(Text(IDC_UPDATE_STATUS), L"다운로드가 완료되었습니다.");
  EXPECT_EQ(LocalFiles(), first);

  // The second file is gone from the server: the first is replaced, the
  // second and third stay as they were.
  const std::vector<std::string> second = SmallDataFiles('2');
  ServeAll(second);
  ASSERT_EQ(std::remove(ServedPath("postcode.txt").c_str()), 0);
  Click(IDC_UPDATE);
  ASSERT_TRUE(WaitUpdateEnded());
  EXPECT_EQ(Text(IDC_UPDATE_STATUS), kNetworkFailure);
  EXPECT_EQ(LocalFiles(), (std::vector<std::string>{second[0], first[1], first[2]}));
}

TEST_F(DataUpdateWindow, ASearchWithNoDataFileDownloadsTheDataAndThenFindsIt) {
  const std::vector<std::string> served = SmallDataFiles('3');
  ServeAll(served);
  for (const char* name : kDataFiles) ::DeleteFileA(LocalPath(name).c_str());
  ASSERT_TRUE(StartWithSearchWindow(server_));
  SimpleSearch(1, "999002");
  WaitUntil([&] { return ListItem(0) == Wide("999-002 시험시 3동 시험아파트"); });
  ASSERT_EQ(ListCount(), 1);
  EXPECT_EQ(ListItem(0), Wide("999-002 시험시 3동 시험아파트"));
  EXPECT_EQ(LocalFiles(), served);
}

TEST_F(DataUpdateWindow, WithNoServerTheIconComesAtOnceAndNoDataFileChanges) {
  ASSERT_TRUE(Start(kNoServer));
  ASSERT_TRUE(WaitForFrame());
  const ULONGLONG ms = ::GetTickCount64() - started_at();
  std::printf("start to frame with no server: %llu ms\n", ms);
  RecordProperty("no_server_frame_ms", static_cast<int>(ms));
  EXPECT_LT(ms, 10000u) << "the version check held the start-up";

  const std::vector<std::string> local = {"csv as it was", Cp949("999-009 그대로\r\n"), "version as it was\r\n"};
  WriteLocalFiles(local);
  ClickIcon();
  ASSERT_TRUE(WaitForSearchWindow());
  SelectTab(2);
  EXPECT_EQ(WaitForText(IDC_UPDATE_STATUS, kNetworkFailure), kNetworkFailure);
  EXPECT_EQ(Text(IDC_DATA_VERSION), L"");
  SetText(IDC_UPDATE_STATUS, "");
  Click(IDC_UPDATE);
  ASSERT_TRUE(WaitUpdateEnded());
  EXPECT_EQ(Text(IDC_UPDATE_STATUS), kNetworkFailure);
  EXPECT_EQ(LocalFiles(), local);
}

// An edition large enough that its transfer, slowed by the server, lasts a
// few seconds: the bar moves and the window answers throughout, a search
// meanwhile reads the old data, 취소 leaves the data as it was byte for byte,
// a second 업데이트 fetches only the rest and puts the new set in place, and
// closing the window during the next edition's transfer leaves that set.
TEST_F(DataUpdateWindow, ABackgroundUpdateMovesItsBarStopsOnCancelAndResumes) {
  // Under Wine on a shared machine; the window's own turns are a few ms.
  constexpr double kAnswerBoundMs = 250;
  const std::vector<std::string> old = {"old csv", Cp949("999-009 그대로\r\n"), "old version\r\n"};
  WriteLocalFiles(old);
  std::string postcode;
  const std::string city = Cp949(" 시험시 새동 "), lot = Cp949("번지\r\n");
  for (int i = 0; postcode.size() < 3000000; ++i) {
    postcode += "999-" + std::to_string(100 + i % 900) + city + std::to_string(i) + lot;
  }
  const std::vector<std::string> edition = {"new csv", postcode, "2026.12.08\r\n"};
  ServeEdition(1, edition);
  SetFault(server_, "postcode.txt", "rate=1000000");
  ASSERT_TRUE(StartWithSearchWindow(server_));
  SelectTab(2);
  auto bar = [&] { return static_cast<int>(::SendMessageW(Item(IDC_UPDATE_PROGRESS), PBM_GETPOS, 0, 0)); };
  // The editions, here and on the server, side by side.
  EXPECT_TRUE(WaitUntil([&] { return Text(IDC_UPDATE_PROGRESS_TEXT).find(L"서버: 1판 (") != std::wstring::npos; }));
  EXPECT_NE(Text(IDC_UPDATE_PROGRESS_TEXT).find(L"이 컴퓨터: 판 정보 없음"), std::wstring::npos);

  AnswerWatch watch(dialog());
  Click(IDC_UPDATE);
  EXPECT_FALSE(::IsWindowEnabled(Item(IDC_UPDATE)));
  EXPECT_TRUE(::IsWindowEnabled(Item(IDC_UPDATE_CANCEL)));
  int first = 0;
  ASSERT_TRUE(WaitUntil([&] { return (first = bar()) > 0; }));
  SelectTab(0);
  SimpleSearch(1, "999009");
  EXPECT_EQ(ListItems(), std::vector<std::wstring>{Wide("999-009 그대로")});
  SelectTab(2);
  std::wstring progress;
  ASSERT_TRUE(WaitUntil([&] {
    progress = Text(IDC_UPDATE_PROGRESS_TEXT);
    return bar() >= 300 && progress.find(L"남은 시간 약") != std::wstring::npos;
  })) << "bar "
      << bar();
  EXPECT_GT(bar(), first);
  EXPECT_NE(progress.find(L" MB / "), std::wstring::npos);

  Click(IDC_UPDATE_CANCEL);
  ASSERT_TRUE(WaitUpdateEnded());
  EXPECT_FALSE(::IsWindowEnabled(Item(IDC_UPDATE_CANCEL)));
  EXPECT_EQ(Text(IDC_UPDATE_STATUS), L"다운로드를 취소했습니다. 다음에 받은 데까지 이어서 받습니다.");
  EXPECT_EQ(LocalFiles(), old);

  SentBytes(server_, "postcode.txt", true);
  SetFault(server_, "postcode.txt", "rate=4000000");
  Click(IDC_UPDATE);
  ASSERT_TRUE(WaitUpdateEnded());
  const double worst_ms = watch.Finish();
  EXPECT_EQ(Text(IDC_UPDATE_STATUS), L"다운로드가 완료되었습니다.");
  EXPECT_EQ(bar(), 1000);
  EXPECT_EQ(LocalFiles(), edition);
  const unsigned long long resent = SentBytes(server_, "postcode.txt");
  EXPECT_GT(resent, 0u);
  EXPECT_LT(resent, postcode.size()) << "the second update fetched the whole file again";
  std::printf("longest wait for an answer while the data came: %.1f ms; postcode.txt sent again: %llu of %zu\n",
              worst_ms, resent, postcode.size());
  RecordProperty("worst_answer_ms", static_cast<int>(worst_ms));
  EXPECT_LT(worst_ms, kAnswerBoundMs);
  SelectTab(0);
  SelectTab(2);
  EXPECT_TRUE(WaitUntil([&] {
    return Text(IDC_UPDATE_PROGRESS_TEXT).find(L"이 컴퓨터: 1판 / 서버: 1판 (2026-12-08)") != std::wstring::npos;
  }));

  // Closing the window stops a running update and leaves the set as it is.
  ServeEdition(2, {"new csv", "999-008" + postcode.substr(7), "2026.12.09\r\n"});
  Click(IDC_UPDATE);
  ASSERT_TRUE(WaitUntil([&] { return bar() > 0; }));
  ::PostMessageA(dialog(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(WaitWindowGone(dialog()));
  EXPECT_TRUE(Running());
  EXPECT_EQ(LocalFiles(), edition);
  SetFault(server_, "postcode.txt", "");
}

// The set changes as one, whatever the window does meanwhile: a search first
// finishes a change that a kill left marked whole, and a set that is whole
// when the window closes goes in place before the window is gone.
TEST_F(DataUpdateWindow, ASearchFinishesAnInterruptedChangeAndAClosingWindowPutsAWholeSetInPlace) {
  const std::vector<std::string> old = SmallDataFiles('4');
  WriteLocalFiles(old);
  ASSERT_TRUE(StartWithSearchWindow(server_));
  const std::string work = LocalPath(marlix::kWorkFolder);
  ::CreateDirectoryA(work.c_str(), nullptr);
  const std::vector<std::string> marked = SmallDataFiles('5');
  for (int i = 0; i < 3; ++i) WriteBytes(work + "\\" + kDataFiles[i], marked[i]);
  WriteBytes(work + "\\commit", "whole\n");
  SimpleSearch(1, "999002");
  EXPECT_EQ(ListItems(), std::vector<std::wstring>{Wide("999-002 시험시 5동 시험아파트")});
  EXPECT_EQ(LocalFiles(), marked);

  // The edition's files arrived whole before; the manifest is late, so the
  // window is closing when the set is whole.
  const std::vector<std::string> edition = SmallDataFiles('6');
  ServeEdition(3, edition);
  for (int i = 0; i < 3; ++i) WriteBytes(work + "\\" + kDataFiles[i], edition[i]);
  ::DeleteFileA((work + "\\commit").c_str());  // not marked: they wait for the manifest
  SetFault(server_, marlix::kManifestFile, "delay=1500");
  SelectTab(2);
  Click(IDC_UPDATE);
  ::PostMessageA(dialog(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(WaitWindowGone(dialog()));
  SetFault(server_, marlix::kManifestFile, "");
  EXPECT_EQ(LocalFiles(), edition);
}

}  // namespace

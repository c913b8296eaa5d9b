// The update tab of Marlix.exe's search window against the host's test service
// server: the server's data version in the panel, the download of the three
// data files by "업데이트" and by a search that finds no data file, and what
// happens with no server at all.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "marlix_driver_win.h"
#include "resource.h"
#include "test_server_win.h"

namespace {

using namespace marlix_test;

constexpr const char* kDataFiles[] = {"post.csv", "postcode.txt", "postver.txt"};
constexpr wchar_t kNetworkFailure[] = L"네트워크 연결을 확인해 주세요.";

std::string LocalPath(const char* name) { return std::string(kDataDir) + "\\" + name; }
std::string ServedPath(const char* name) { return kServerState + "/root/" + name; }

// Data files of our own: a post.csv of exactly three blocks with every byte
// value in it, two lines of postcode data that the real data does not hold,
// and a version.
std::vector<std::string> SmallDataFiles(char edition) {
  std::string csv(3 * 1024, '\0');
  for (std::size_t i = 0; i < csv.size(); ++i) csv[i] = static_cast<char>((i * 7 + edition) & 0xFF);
  return {csv,
          std::string("999-001 시험시 ") + edition + "동\r\n999-002 시험시 " + edition + "동 시험아파트\r\n",
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
  }
  // Later tests search the real data.
  void TearDown() override {
    End();
    InstallRealData();
  }

  std::string server_;
};

TEST_F(DataUpdateWindow, ThePanelShowsTheServersDataVersionEachTimeTheTabIsChosen) {
  Serve("postver.txt", "2026.12.07\n우편번호 자료\r\n52144건");
  ASSERT_TRUE(StartWithSearchWindow(server_));
  SelectTab(2);
  EXPECT_EQ(Text(IDC_DATA_VERSION), L"2026.12.07\r\n우편번호 자료\r\n52144건\r\n");
  EXPECT_EQ(Text(IDC_UPDATE_STATUS), L"우편번호 버전 정보입니다.");

  Serve("postver.txt", "2027.01.01\n");
  SelectTab(0);
  SelectTab(2);
  EXPECT_EQ(Text(IDC_DATA_VERSION), L"2027.01.01\r\n");
}

TEST_F(DataUpdateWindow, UpdateDownloadsTheThreeFilesAndKeepsTheOldOnesOnAFailure) {
  const std::vector<std::string> first = SmallDataFiles('1');
  ServeAll(first);
  WriteLocalFiles({"old csv", "old postcode", "old version"});
  ASSERT_TRUE(StartWithSearchWindow(server_));
  SelectTab(2);
  Click(IDC_UPDATE);
  EXPECT_EQ(Text(IDC_UPDATE_STATUS), L"다운로드가 완료되었습니다.");
  EXPECT_EQ(LocalFiles(), first);

  // The second file is gone from the server: the first is replaced, the
  // second and third stay as they were.
  const std::vector<std::string> second = SmallDataFiles('2');
  ServeAll(second);
  ASSERT_EQ(std::remove(ServedPath("postcode.txt").c_str()), 0);
  Click(IDC_UPDATE);
  EXPECT_EQ(Text(IDC_UPDATE_STATUS), kNetworkFailure);
  EXPECT_EQ(LocalFiles(), (std::vector<std::string>{second[0], first[1], first[2]}));
}

TEST_F(DataUpdateWindow, ASearchWithNoDataFileDownloadsTheDataAndThenFindsIt) {
  const std::vector<std::string> served = SmallDataFiles('3');
  ServeAll(served);
  for (const char* name : kDataFiles) ::DeleteFileA(LocalPath(name).c_str());
  ASSERT_TRUE(StartWithSearchWindow(server_));
  SimpleSearch(1, "999002");
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

  const std::vector<std::string> local = {"csv as it was", "999-009 그대로\r\n", "version as it was\r\n"};
  WriteLocalFiles(local);
  ClickIcon();
  ASSERT_TRUE(WaitForSearchWindow());
  SelectTab(2);
  EXPECT_EQ(Text(IDC_UPDATE_STATUS), kNetworkFailure);
  EXPECT_EQ(Text(IDC_DATA_VERSION), L"");
  SetText(IDC_UPDATE_STATUS, "");
  Click(IDC_UPDATE);
  EXPECT_EQ(Text(IDC_UPDATE_STATUS), kNetworkFailure);
  EXPECT_EQ(LocalFiles(), local);
}

}  // namespace

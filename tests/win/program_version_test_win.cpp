// The program-version check at start-up: the updater starts from the start-up
// directory only for a newer server version, and a missing updater is told in
// a message box. Against the host's test service server.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "program_check_win.h"
#include "server_control_win.h"
#include "test_server_win.h"
#include "text_win.h"

namespace {

using marlix_test::ReadBytes;

const std::string kState = marlix_test::kServerState;
// The version of the program that asks: today's build.
const marlix::FileVersion kOwn{1, 0, 0, 0};

// A start-up directory of its own, with the stand-in updater in it or not.
class ProgramVersionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string url = marlix_test::TestServerUrl();
    ASSERT_FALSE(url.empty()) << "no test server";
    _putenv_s("MARLIX_SERVER_URL", url.c_str());
    dir_ = kState + "\\start-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    CreateDirectoryA(dir_.c_str(), nullptr);
    DeleteFileA((dir_ + "\\updater-started.txt").c_str());
  }
  void TearDown() override { _putenv_s("MARLIX_SERVER_URL", ""); }

  void ServeVersion(const std::string& ini) { marlix_test::Serve("MarlixVer.ini", ini); }
  void PlaceUpdater() { ASSERT_TRUE(CopyFileA(MARLIX_UPDATER_STAND_IN, (dir_ + "\\MarlixUpd.exe").c_str(), FALSE)); }
  // The directory the stand-in saw, once it has run; empty if it did not.
  std::string UpdaterStartedIn(int wait_ms) {
    const std::string marker = dir_ + "\\updater-started.txt";
    for (int waited = 0; waited <= wait_ms; waited += 50) {
      const std::string seen = ReadBytes(marker);
      if (!seen.empty()) return seen;
      Sleep(50);
    }
    return "";
  }

  static std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

  std::string dir_;
};

TEST_F(ProgramVersionTest, ANewerServerVersionStartsTheUpdaterInTheStartUpDirectory) {
  PlaceUpdater();
  ServeVersion("[Marlix]\r\nzipver=1.1\r\n");
  std::string seen;
  EXPECT_TRUE(marlix::CheckProgramVersion("Marlix", Wide(dir_), kOwn, seen));
  EXPECT_EQ(seen, "1.1");
  char full[MAX_PATH] = {};
  GetFullPathNameA(dir_.c_str(), sizeof full, full, nullptr);
  EXPECT_STRCASEEQ(UpdaterStartedIn(10000).c_str(), full);
}

TEST_F(ProgramVersionTest, TheSameOrAnOlderVersionOrAnErrorPageStartsNothing) {
  PlaceUpdater();
  for (const char* ini : {"zipver=1.0\r\n", "zipver=0.9\r\n", "zipver=\r\n", "name=x\r\n"}) {
    ServeVersion(ini);
    std::string seen;
    EXPECT_FALSE(marlix::CheckProgramVersion("Marlix", Wide(dir_), kOwn, seen)) << ini;
  }
  DeleteFileA((kState + "/root/MarlixVer.ini").c_str());  // the server answers 404
  std::string seen;
  EXPECT_FALSE(marlix::CheckProgramVersion("Marlix", Wide(dir_), kOwn, seen));
  EXPECT_EQ(seen, "1.0");
  EXPECT_EQ(UpdaterStartedIn(1500), "");
}

// A version file acted on only with the publisher's signature: without a good
// one it is as if the server could not be reached, silently.
TEST_F(ProgramVersionTest, AVersionFileWithoutThePublishersSignatureStartsNothing) {
  using marlix_test::BadSignature;
  const std::string base = marlix_test::TestServerUrl();
  PlaceUpdater();
  ServeVersion("[Marlix]\r\nzipver=1.1\r\n");
  marlix_test::Serve("version-other.txt", "zipver=1.1\r\n[another file]\r\n");
  for (BadSignature bad : {BadSignature::kMissing, BadSignature::kOtherKey, BadSignature::kOtherFile,
                           BadSignature::kCut, BadSignature::kGarbage}) {
    SpoilSignature(base, "MarlixVer.ini", bad, "version-other.txt");
    std::string seen;
    EXPECT_FALSE(marlix::CheckProgramVersion("Marlix", Wide(dir_), kOwn, seen)) << static_cast<int>(bad);
    EXPECT_EQ(seen, "1.0") << static_cast<int>(bad);
    marlix_test::SignNormally(base, "MarlixVer.ini");
  }
  EXPECT_EQ(UpdaterStartedIn(1500), "");
  std::string seen;
  EXPECT_TRUE(marlix::CheckProgramVersion("Marlix", Wide(dir_), kOwn, seen)) << "signed, it counts";
  EXPECT_EQ(seen, "1.1");
}

TEST_F(ProgramVersionTest, AMissingUpdaterIsToldInAMessageBox) {
  ServeVersion("zipver=2.0\r\n");
  // The message box is modal: read and dismiss it from another thread.
  std::string text;
  std::thread answer([&] {
    for (int i = 0; i < 200; ++i) {
      HWND box = FindWindowA("#32770", "Marlix");
      if (box != nullptr) {
        wchar_t buffer[2048] = {};
        GetDlgItemTextW(box, 0xFFFF, buffer, 2048);
        text = marlix::Utf8FromWide(buffer);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return;
      }
      Sleep(50);
    }
  });
  std::string seen;
  EXPECT_FALSE(marlix::CheckProgramVersion("Marlix", Wide(dir_), kOwn, seen));
  answer.join();
  // Message boxes turn a lone LF into CR LF in their text.
  std::string expected = "우편번호 검색 업데이트 프로그램을 실행할 수 없습니다.\n\n" + dir_ +
                         "\\MarlixUpd.exe 프로그램이 있는지 확인하십시오";
  std::string got;
  for (char c : text) {
    if (c != '\r') got += c;
  }
  EXPECT_EQ(got, expected);
}

}  // namespace

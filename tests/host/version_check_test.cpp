// The program-version check and the data-version text, over libcurl against
// the test service server.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "data_download.h"
#include "data_version.h"
#include "program_manifest.h"
#include "service_server.h"
#include "version_check.h"

namespace {

using marlix_test::ServiceServer;

TEST(VersionOrder, OnlyAVersionThatSortsAfterTheOwnOneIsNewer) {
  for (const char* newer : {"1.1", "1.01", "1.10", "1.0a", "2", "1.0 ", "1.0\t", "가"}) {
    EXPECT_TRUE(marlix::ServerVersionIsNewer(newer)) << '"' << newer << '"';
  }
  for (const char* not_newer : {"1.0", "0.9", "1", "01.0", "", " 1.1"}) {
    EXPECT_FALSE(marlix::ServerVersionIsNewer(not_newer)) << '"' << not_newer << '"';
  }
}

TEST(VersionOrder, ADoubleByteCharacterIsOneUnitOrderedByItsTwoBytes) {
  // 0xFF is no lead byte: one unit of value 0xFF, below any two-byte unit,
  // though a byte compare would put it after the lead byte 0xB0.
  EXPECT_LT(marlix::CompareVersions("1.\xFF", "1.\xB0\xA1"), 0);
  EXPECT_GT(marlix::CompareVersions("1.\xB0\xA2", "1.\xB0\xA1"), 0);
  EXPECT_GT(marlix::CompareVersions("1.\xB0\xA1", "1.\xB0"), 0) << "a prefix sorts first";
  EXPECT_EQ(marlix::CompareVersions("1.\xB0\xA1", "1.\xB0\xA1"), 0);
}

TEST(VersionLine, TheKeyIsFoundAfterLeadingWhiteSpaceAndInExactCaseOnly) {
  struct Case {
    const char* line;
    bool taken;
    const char* version;
  };
  for (const Case& c : std::vector<Case>{{"zipver=1.1", true, "1.1"},
                                         {"  \t zipver=1.1", true, "1.1"},
                                         {"zipver=1.1 \t", true, "1.1 \t"},
                                         {"zipver=", true, ""},
                                         {"ZIPVER=2.0", false, ""},
                                         {"Zipver=2.0", false, ""},
                                         {"[Marlix]", false, ""},
                                         {"", false, ""},
                                         {"   ", false, ""}}) {
    std::string version;
    EXPECT_EQ(marlix::TakeVersionLine(c.line, version), c.taken) << '"' << c.line << '"';
    EXPECT_EQ(version, c.version) << '"' << c.line << '"';
  }
  // The line the publisher writes reads back as written.
  for (const char* written : {"1.2.3.4", "2.0 beta"}) {
    std::string version;
    EXPECT_TRUE(marlix::FindVersionLine(marlix::VersionFileLine(written), version));
    EXPECT_EQ(version, written);
  }
}

std::string ServerVersion(const ServiceServer& server, unsigned timeout_ms = 2000) {
  marlix::ServiceAccess access;
  access.base_url = server.url();
  access.timeout_ms = timeout_ms;
  return marlix::FetchServerVersion(access, "Marlix");
}

TEST(ServerVersion, TheFirstVersionLineOfTheFileCounts) {
  ServiceServer server;
  server.Serve("MarlixVer.ini", "[Marlix]\r\nname=Marlix\r\n\r\n\t zipver=1.1\r\nzipver=9.9\r\n");
  EXPECT_EQ(ServerVersion(server), "1.1");
  server.Serve("MarlixVer.ini", "zipver=1.0");
  EXPECT_EQ(ServerVersion(server), "1.0");
  server.Serve("MarlixVer.ini", "ZIPVER=2.0\nname=x\n");
  EXPECT_EQ(ServerVersion(server), "1.0") << "no version line keeps the own version";
}

TEST(ServerVersion, AnyFailureKeepsTheOwnVersion) {
  {
    ServiceServer server({"MarlixVer.ini:status=404"});
    server.Serve("MarlixVer.ini", "zipver=2.0\n");
    EXPECT_EQ(ServerVersion(server), "1.0") << "an error page offers no version";
  }
  {
    ServiceServer server({"MarlixVer.ini:delay=4000"});
    server.Serve("MarlixVer.ini", "zipver=2.0\n");
    const double start = marlix_test::NowSeconds();
    EXPECT_EQ(ServerVersion(server, 1000), "1.0");
    EXPECT_LT(marlix_test::NowSeconds() - start, 3.0);
  }
  ServiceServer server;
  server.Stop();
  EXPECT_EQ(ServerVersion(server), "1.0");
}

marlix::ProgramOffer Offer(const ServiceServer& server, const marlix::FileVersion& own, const std::string& data) {
  marlix::ServiceAccess access;
  access.base_url = server.url();
  access.timeout_ms = 2000;
  return marlix::CheckServiceProgram(access, "Marlix", own, data);
}

// With a manifest, its program record decides, ordered as numbers; the
// version file, served with a higher version throughout, is never asked.
TEST(ProgramOffer, AManifestDecidesByNumbersAndNeverByTheVersionFile) {
  const std::string data = marlix_test::MakeTempDir("data");
  ServiceServer server;
  server.Serve("MarlixVer.ini", "zipver=9.9\r\n");
  struct Case {
    const char* listed;  // the manifest's program version; empty: no program record
    marlix::FileVersion own;
    bool newer;
  };
  for (const Case& c : std::vector<Case>{{"1.1.0.0", {1, 0, 0, 0}, true},
                                         {"1.0", {1, 0, 0, 0}, false},
                                         {"1.0.0.1", {1, 0, 0, 0}, true},
                                         {"1.10", {1, 9, 0, 0}, true},  // before "1.9" as text
                                         {"1.9", {1, 10, 0, 0}, false},
                                         {"0.9.9.9", {1, 0, 0, 0}, false},
                                         {"", {1, 0, 0, 0}, false}}) {
    server.Serve("manifest.txt", marlix_test::ProgramManifest(5, c.listed, "MZ program"));
    const marlix::ProgramOffer offer = Offer(server, c.own, data);
    EXPECT_EQ(offer.newer, c.newer) << c.listed;
    EXPECT_EQ(offer.version, *c.listed ? c.listed : marlix::VersionText(c.own)) << c.listed;
  }

  // Below the edition the data folder holds, a manifest is a replayed old one.
  marlix_test::WriteBytes(std::filesystem::path(data) / "manifest.txt", marlix_test::ProgramManifest(6, "", ""));
  server.Serve("manifest.txt", marlix_test::ProgramManifest(5, "2.0", "MZ program"));
  EXPECT_FALSE(Offer(server, {1, 0, 0, 0}, data).newer);
  server.Serve("manifest.txt", marlix_test::ProgramManifest(6, "2.0", "MZ program"));
  EXPECT_TRUE(Offer(server, {1, 0, 0, 0}, data).newer);

  // A manifest that is there but unreadable or not the publisher's decides nothing.
  server.Serve("manifest.txt", "marlix-manifest 1\nedition 7\n");
  EXPECT_FALSE(Offer(server, {1, 0, 0, 0}, data).newer);
  server.Serve("manifest.txt", marlix_test::ProgramManifest(7, "2.0", "MZ program"));
  server.Serve("manifest.txt.sig", "not a signature");
  EXPECT_FALSE(Offer(server, {1, 0, 0, 0}, data).newer);
  std::filesystem::remove_all(data);
}

struct Panel {
  marlix::DataVersion version;
  std::vector<std::string> statuses;
};

Panel ShowDataVersion(const std::string& base_url) {
  Panel panel;
  marlix::ServiceAccess access;
  access.base_url = base_url;
  access.timeout_ms = 2000;
  panel.version = marlix::FetchDataVersion(access, [&](const std::string& text) { panel.statuses.push_back(text); });
  return panel;
}

TEST(DataVersion, EachLineEndsWithCarriageReturnAndLineFeed) {
  ServiceServer server;
  server.Serve("postver.txt", "2026.12\r\n우편번호 자료\nlast");
  Panel panel = ShowDataVersion(server.url());
  EXPECT_TRUE(panel.version.fetched);
  EXPECT_EQ(panel.version.text.bytes(), "2026.12\r\n우편번호 자료\r\nlast\r\n");
  EXPECT_EQ(panel.statuses, (std::vector<std::string>{"서버에 연결 중입니다...", "우편번호 버전 정보입니다."}));
  server.Serve("postver.txt", "");
  panel = ShowDataVersion(server.url());
  EXPECT_TRUE(panel.version.fetched);
  EXPECT_EQ(panel.version.text.bytes(), "");
  EXPECT_EQ(panel.statuses.back(), "우편번호 버전 정보입니다.");
}

TEST(DataVersion, FailuresLeaveTheTextEmptyAndBlameTheNetwork) {
  for (const char* fault : {"postver.txt:status=404", "postver.txt:cut=5"}) {
    ServiceServer server({fault});
    server.Serve("postver.txt", "2026.12\r\nmore\r\n");
    const Panel panel = ShowDataVersion(server.url());
    EXPECT_FALSE(panel.version.fetched) << fault;
    EXPECT_EQ(panel.version.text.bytes(), "") << fault;
    EXPECT_EQ(panel.statuses.back(), "네트워크 연결을 확인해 주세요.") << fault;
  }
  ServiceServer server;
  server.Stop();
  const Panel panel = ShowDataVersion(server.url());
  EXPECT_EQ(panel.statuses, (std::vector<std::string>{"서버에 연결 중입니다...", "네트워크 연결을 확인해 주세요."}));
}

TEST(DataVersion, MoreThanItsCapIsAFailureAndTheReadStopsThere) {
  const std::string full(marlix::kMaxDataVersionBytes, 'v');
  {
    ServiceServer server;
    server.Serve("postver.txt", full);
    const Panel panel = ShowDataVersion(server.url());
    EXPECT_TRUE(panel.version.fetched) << "exactly the cap is still a version file";
    EXPECT_EQ(panel.version.text.bytes(), full + "\r\n");
    server.Serve("postver.txt", full + "v");
    const Panel over = ShowDataVersion(server.url());
    EXPECT_FALSE(over.version.fetched);
    EXPECT_EQ(over.version.text.bytes(), "");
    EXPECT_EQ(over.statuses.back(), "네트워크 연결을 확인해 주세요.");
  }
  // A server that never stops sending: the fetch ends soon, with nothing shown.
  for (const std::string& body : {std::string("2026.12\r\n"), std::string()}) {
    ServiceServer server({"postver.txt:endless=1"});
    server.Serve("postver.txt", body);
    const double start = marlix_test::NowSeconds();
    const Panel panel = ShowDataVersion(server.url());
    EXPECT_LT(marlix_test::NowSeconds() - start, 5.0);
    EXPECT_FALSE(panel.version.fetched);
    EXPECT_EQ(panel.version.text.bytes(), "");
    EXPECT_EQ(panel.statuses, (std::vector<std::string>{"서버에 연결 중입니다...", "네트워크 연결을 확인해 주세요."}));
  }
}

}  // namespace

// The internet access over libcurl, against the test service server.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "internet.h"
#include "server_url.h"
#include "service_server.h"

namespace {

using marlix_test::NowSeconds;
using marlix_test::PatternBytes;
using marlix_test::ServiceServer;

std::string Url(const ServiceServer& server, const std::string& name) {
  return marlix::ServiceFileUrl(server.url(), name);
}

std::vector<std::string> AllLines(CInternetFile& file) {
  std::vector<std::string> lines;
  std::string line;
  while (file.ReadString(line)) lines.push_back(line);
  return lines;
}

using marlix::internet::Failure;

// Reads the body in 1 KB blocks to its end into `got`; the failure that ended
// it early, if one did.
constexpr std::size_t kBlock = 1024;
std::optional<Failure> ReadToEnd(CInternetFile& file, std::string& got) {
  char block[kBlock];
  try {
    for (unsigned n; (n = file.Read(block, sizeof block)) > 0;) got.append(block, n);
  } catch (const CInternetException& e) {
    return e.failure();
  }
  return std::nullopt;
}

TEST(InternetLines, LineFeedEndsALineAndEveryCarriageReturnIsDropped) {
  ServiceServer server;
  server.Serve("lines.txt", "one\r\ntwo\n\r\nth\rree\r\r\nlast");
  server.Serve("ends-with-lf.txt", "a\nb\n");
  server.Serve("empty.txt", "");
  CInternetSession session("test");
  // A read-ahead of 3 bytes puts line ends on every side of a buffer boundary.
  for (unsigned buffer : {3u, 4096u}) {
    auto file = session.OpenURL(Url(server, "lines.txt"));
    file->SetReadBufferSize(buffer);
    EXPECT_EQ(AllLines(*file), (std::vector<std::string>{"one", "two", "", "three", "last"})) << buffer;
    std::string line = "stale";
    EXPECT_FALSE(file->ReadString(line));
    EXPECT_EQ(line, "");
  }
  auto file = session.OpenURL(Url(server, "ends-with-lf.txt"));
  EXPECT_EQ(AllLines(*file), (std::vector<std::string>{"a", "b"}));
  file = session.OpenURL(Url(server, "empty.txt"));
  EXPECT_TRUE(AllLines(*file).empty());
}

TEST(InternetBlocks, ReadsFillTheBlockUntilTheEndAndMixWithLineReads) {
  ServiceServer server;
  const std::string body = "header\r\n" + PatternBytes(300 * 1024 + 17, 1);
  server.Serve("data.bin", body);
  CInternetSession session("test");
  auto file = session.OpenURL(Url(server, "data.bin"));
  std::string line;
  ASSERT_TRUE(file->ReadString(line));
  EXPECT_EQ(line, "header");
  std::string rest;
  std::vector<unsigned> short_reads;
  char block[1024];
  for (;;) {
    const unsigned got = file->Read(block, sizeof block);
    rest.append(block, got);
    if (got < sizeof block) {
      short_reads.push_back(got);
      if (got == 0 || short_reads.size() > 1) break;
    }
  }
  EXPECT_EQ(rest, body.substr(8));
  // One short block at the end, then nothing more.
  EXPECT_EQ(short_reads, (std::vector<unsigned>{static_cast<unsigned>((body.size() - 8) % 1024), 0u}));
}

TEST(InternetStatus, ErrorPagesComeBackAsFilesWithTheirStatus) {
  ServiceServer server({"gone.txt:status=404", "busy.txt:status=503"});
  server.Serve("here.txt", "here\n");
  CInternetSession session("test");
  for (auto [name, status] :
       {std::pair{"here.txt", 200ul}, {"gone.txt", 404ul}, {"busy.txt", 503ul}, {"missing.txt", 404ul}}) {
    auto file = session.OpenURL(Url(server, name));
    auto* http = dynamic_cast<CHttpFile*>(file.get());
    ASSERT_NE(http, nullptr);
    unsigned long code = 0;
    ASSERT_TRUE(http->QueryInfoStatusCode(code));
    EXPECT_EQ(code, status) << name;
    EXPECT_EQ(marlix::AnsweredWithFile(*file), status == 200) << name;
    std::string line;
    EXPECT_TRUE(file->ReadString(line)) << name << " has a body";
  }
}

TEST(InternetStatus, RedirectsAreFollowedToTheFinalAnswer) {
  ServiceServer server({"old.txt:redirect=new.txt", "twice.txt:redirect=old.txt"});
  server.Serve("new.txt", "new\n");
  CInternetSession session("test");
  for (const char* name : {"old.txt", "twice.txt"}) {
    auto file = session.OpenURL(Url(server, name));
    EXPECT_EQ(marlix::AnswerStatus(*file), 200ul) << name;
    EXPECT_EQ(AllLines(*file), std::vector<std::string>{"new"}) << name;
  }
}

TEST(InternetClose, ClosingTwiceIsHarmlessAndAClosedFileIsAtItsEnd) {
  ServiceServer server;
  server.Serve("a.txt", "a\nb\n");
  CInternetSession session("test");
  auto file = session.OpenURL(Url(server, "a.txt"));
  file->Close();
  file->Close();
  std::string line;
  EXPECT_FALSE(file->ReadString(line));
  char block[8];
  EXPECT_EQ(file->Read(block, sizeof block), 0u);
  session.Close();
  session.Close();
  EXPECT_THROW(session.OpenURL(Url(server, "a.txt")), CInternetException);
}

std::optional<Failure> FailureOfOpen(CInternetSession& session, const std::string& url) {
  try {
    session.OpenURL(url);
  } catch (const CInternetException& e) {
    return e.failure();
  }
  return std::nullopt;
}

TEST(InternetFailures, NoServerAndBadAddressesThrow) {
  ServiceServer server;
  const std::string url = Url(server, "a.txt");
  server.Stop();
  CInternetSession session("test");
  EXPECT_EQ(FailureOfOpen(session, url), Failure::kCannotConnect);
  EXPECT_EQ(FailureOfOpen(session, "ftp://127.0.0.1/a.txt"), Failure::kBadAddress);
  EXPECT_EQ(FailureOfOpen(session, "c:\\postcode\\a.txt"), Failure::kBadAddress);
  EXPECT_NE(FailureOfOpen(session, "http://[::1"), std::nullopt);
}

TEST(InternetFailures, AnAnswerLaterThanTheReceiveTimeOutFails) {
  ServiceServer server({"slow.txt:delay=4000", "late.txt:delay=300"});
  server.Serve("slow.txt", "slow\n");
  server.Serve("late.txt", "late\n");
  CInternetSession session("test");
  session.SetTimeouts(1000, 1000);
  const double start = NowSeconds();
  EXPECT_EQ(FailureOfOpen(session, Url(server, "slow.txt")), Failure::kTimeout);
  const double waited = NowSeconds() - start;
  EXPECT_GT(waited, 0.9);
  EXPECT_LT(waited, 3.0);
  // Within the time-out a slow answer is fine.
  auto file = session.OpenURL(Url(server, "late.txt"));
  EXPECT_EQ(AllLines(*file), std::vector<std::string>{"late"});
}

TEST(InternetFailures, ABodyCutShortThrowsAfterTheBytesThatCame) {
  const std::string body = PatternBytes(10000, 2);
  for (int cut : {0, 1, 4096, 9999}) {
    ServiceServer server({"cut.bin:cut=" + std::to_string(cut)});
    server.Serve("cut.bin", body);
    CInternetSession session("test");
    auto file = session.OpenURL(Url(server, "cut.bin"));
    std::string got;
    EXPECT_EQ(ReadToEnd(*file, got), Failure::kConnectionLost) << "cut at " << cut;
    EXPECT_EQ(got, body.substr(0, got.size())) << "cut at " << cut;
    // Whole blocks before the drop arrive; the block the drop cut short fails.
    EXPECT_LE(got.size(), static_cast<std::size_t>(cut));
    EXPECT_GT(got.size() + kBlock, static_cast<std::size_t>(cut));
  }
}

// What /_control/sent says of one name, or of "total".
std::uint64_t SentBytes(CInternetSession& session, const ServiceServer& server, const std::string& name) {
  auto file = session.OpenURL(server.url() + "/_control/sent");
  std::uint64_t bytes = 0;
  for (const std::string& line : AllLines(*file)) {
    if (line.rfind(name + " ", 0) == 0) bytes = std::stoull(line.substr(name.size() + 1));
  }
  return bytes;
}

TEST(InternetRanges, ThePartAskedForComesWithItsOffsetOrTheWholeFileInstead) {
  const std::string body = PatternBytes(10000, 3);
  ServiceServer server({"norange.bin:norange=1", "cut.bin:cut=1000"});
  for (const char* name : {"part.bin", "norange.bin", "cut.bin"}) server.Serve(name, body);
  struct Row {
    const char* name;
    std::uint64_t from;
    unsigned long status;
    std::uint64_t offset;  // BodyOffset; TotalLength is always the file's
    std::size_t cut;       // the body drops after this many bytes; 0: whole
  };
  const Row rows[] = {
      {"part.bin", 4000, 206, 4000, 0},    // the rest from the middle
      {"part.bin", 9999, 206, 9999, 0},    // the last byte
      {"part.bin", 0, 200, 0, 0},          // no Range asked
      {"norange.bin", 4000, 200, 0, 0},    // a server that ignores Range
      {"cut.bin", 4000, 206, 4000, 1000},  // cut=N counts the ranged body
      {"part.bin", 10000, 416, 0, 0},      // at the end: nothing is left
      {"part.bin", 20000, 416, 0, 0},      // past the end
  };
  CInternetSession session("test");
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name) + " from " + std::to_string(row.from));
    auto file = session.OpenURL(Url(server, row.name), row.from);
    EXPECT_EQ(marlix::AnswerStatus(*file), row.status);
    EXPECT_EQ(marlix::AnsweredWithFile(*file), row.status != 416);
    EXPECT_EQ(file->BodyOffset(), row.offset);
    EXPECT_EQ(file->TotalLength(), body.size());
    if (row.status == 416) continue;
    std::string got;
    const std::optional<Failure> failure = ReadToEnd(*file, got);
    const std::string expected = body.substr(row.offset);
    if (row.cut == 0) {
      EXPECT_EQ(failure, std::nullopt);
      EXPECT_EQ(got, expected);
    } else {  // as for any cut: whole blocks before the drop, then the failure
      EXPECT_EQ(failure, Failure::kConnectionLost);
      EXPECT_EQ(got, expected.substr(0, got.size()));
      EXPECT_LE(got.size(), row.cut);
      EXPECT_GT(got.size() + kBlock, row.cut);
    }
  }
  // Only the parts asked for went out, and no error page counts.
  EXPECT_EQ(SentBytes(session, server, "part.bin"), 6000u + 1u + 10000u);
  session.OpenURL(server.url() + "/_control/sent?reset=1")->Close();
  EXPECT_EQ(SentBytes(session, server, "total"), 0u);
}

TEST(InternetRanges, APartThatIsNotTheOneAskedForIsRefused) {
  struct Row {
    unsigned long status;
    const char* content_range;
    const char* content_length;
    std::uint64_t offset;  // when accepted; every row asks from byte 100
    std::uint64_t total;
    bool refused;
  };
  const Row rows[] = {
      {206, "bytes 100-199/200", "100", 100, 200, false},
      {206, "BYTES  100-199/*", "", 100, 0, false},
      {206, "bytes 0-199/200", "200", 0, 0, true},  // the whole file as a part
      {206, "", "", 0, 0, true},
      {206, "bytes 100-99/200", "", 0, 0, true},
      {206, "bytes 100-199/150", "", 0, 0, true},
      {206, "bytes 100-199/200 x", "", 0, 0, true},
      {206, "bytes 100-199/99999999999999999999", "", 0, 0, true},
      {200, "", "200", 0, 200, false},
      {416, "bytes */200", "", 0, 200, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.status) + " '" + row.content_range + "'");
    try {
      const marlix::internet::BodyRange range =
          marlix::internet::RangeOfAnswer(row.status, row.content_range, row.content_length, 100, "http://x/");
      EXPECT_FALSE(row.refused);
      EXPECT_EQ(range.offset, row.offset);
      EXPECT_EQ(range.total, row.total);
    } catch (const CInternetException& e) {
      EXPECT_TRUE(row.refused) << e.what();
      EXPECT_EQ(e.failure(), Failure::kWrongPart);
    }
  }
}

TEST(ServerAddress, TheEnvironmentOverridesTheBuiltInAddress) {
  unsetenv("MARLIX_SERVER_URL");
  EXPECT_EQ(marlix::ServerBaseUrl(), MARLIX_CONFIGURED_SERVER_URL);
  setenv("MARLIX_SERVER_URL", "http://127.0.0.1:1234//", 1);
  EXPECT_EQ(marlix::ServerBaseUrl(), "http://127.0.0.1:1234");
  EXPECT_EQ(marlix::ServiceFileUrl("postver.txt"), "http://127.0.0.1:1234/zipcode/search/postver.txt");
  setenv("MARLIX_SERVER_URL", "", 1);
  EXPECT_EQ(marlix::ServerBaseUrl(), MARLIX_CONFIGURED_SERVER_URL);
  unsetenv("MARLIX_SERVER_URL");
}

}  // namespace

// The data update by manifest, end to end: editions made by the real
// publisher, served by the test service server, fetched by the update core
// over libcurl into a real folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "data_update.h"
#include "line_delta.h"
#include "line_delta_of.h"
#include "service_server.h"

namespace {

namespace fs = std::filesystem;
using marlix::DataUpdateOutcome;
using marlix::DownloadResult;
using marlix_test::Control;
using marlix_test::ReadBytes;
using marlix_test::ServiceServer;
using marlix_test::WriteBytes;

constexpr const char* kFiles[] = {"post.csv", "postcode.txt", "postver.txt"};

// The body bytes the server sent for `name` since the last reset, or in all.
std::uint64_t Sent(const ServiceServer& server, const std::string& name = "total") {
  const std::string lines = "\n" + Control(server, "sent");
  const std::size_t at = lines.find("\n" + name + " ");
  return at == std::string::npos ? 0 : std::stoull(lines.substr(at + name.size() + 2));
}

class DataUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = marlix_test::MakeTempDir("editions");
    folder_ = (fs::path(work_) / "data").string();
    // The publisher's key is the build's development key, which the update trusts.
    fs::copy_file(MARLIX_TEST_SIGNING_KEY, fs::path(work_) / "key.pem");
    fs::permissions(fs::path(work_) / "key.pem", fs::perms::owner_read | fs::perms::owner_write);
  }
  void TearDown() override {
    if (!mounted_.empty()) std::system(("umount '" + mounted_ + "'").c_str());
    fs::remove_all(work_);
  }

  // Publishes `postcode` with a post.csv and postver.txt of its own as the next edition.
  void Release(const ServiceServer& server, const std::string& postcode, const std::string& version) {
    const fs::path data = fs::path(work_) / "release";
    fs::create_directories(data);
    WriteBytes(data / "postcode.txt", postcode);
    WriteBytes(data / "post.csv", "06315,a\r\n");
    WriteBytes(data / "postver.txt", version + "\r\n");
    const std::string command = std::string("'") + MARLIX_PUBLISH_EXE + "' release --key '" + work_ +
                                "/key.pem' --to '" + server.root().string() + "' --data '" + data.string() +
                                "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  DataUpdateOutcome Update(const ServiceServer& server, const std::atomic<bool>* cancel = nullptr) {
    marlix::ServiceAccess access;
    access.base_url = server.url();
    marlix::DataUpdateEvents events;
    events.unchanged = [this](const std::string& name) { unchanged_ += name + " "; };
    events.status = [this](const std::string& text) {
      status_ = text;
      done_told_ += text == "다운로드가 완료되었습니다." ? 1 : 0;
    };
    unchanged_.clear();
    done_told_ = 0;
    return marlix::UpdateDataFiles(access, "test", folder_, events, cancel);
  }

  std::string Local(const char* name) const { return ReadBytes(fs::path(folder_) / name); }

  std::string work_, folder_, unchanged_, status_, mounted_;
  int done_told_ = 0;  // times the update said it was complete
};

// Every 100th line of the real data changed: a road renamed, as an edition changes.
std::string NextEdition(const std::string& text, int step) {
  std::string out;
  std::size_t line = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at) + 1;
    std::string piece = text.substr(at, end - at);
    if (++line % 100 == static_cast<std::size_t>(step)) piece.insert(8, "X");
    out += piece;
    at = end;
  }
  return out;
}

TEST_F(DataUpdateTest, EditionsComeCompressedThenAsDeltasAndNeverGoBack) {
  ServiceServer server({}, marlix_test::Signing::kOnlyGiven);
  const std::string first = ReadBytes(MARLIX_REAL_DATA);
  Release(server, first, "1");

  // The first update takes the compressed forms, a fraction of the bytes, and
  // says it is complete once, when the set is in place.
  DataUpdateOutcome outcome = Update(server);
  ASSERT_EQ(outcome.result, DownloadResult::kComplete) << outcome.detail;
  EXPECT_EQ(done_told_, 1);
  EXPECT_EQ(status_, "다운로드가 완료되었습니다.");
  EXPECT_EQ(Local("postcode.txt"), first);
  EXPECT_EQ(outcome.edition, 1u);
  EXPECT_LT(Sent(server), first.size() / 4);

  // Nothing new: the manifest alone travels.
  Control(server, "sent?reset=1");
  outcome = Update(server);
  EXPECT_TRUE(outcome.up_to_date);
  EXPECT_EQ(unchanged_, "post.csv postcode.txt postver.txt ");
  EXPECT_LT(Sent(server), 10 * 1024u);
  const std::string manifest1 = ReadBytes(server.root() / "manifest.txt");
  const std::string signature1 = ReadBytes(server.root() / "manifest.txt.sig");

  // 1% of the lines changed: the delta is a small part of the compressed file.
  const std::string second = NextEdition(first, 7);
  Release(server, second, "2");
  Control(server, "sent?reset=1");
  outcome = Update(server);
  ASSERT_EQ(outcome.result, DownloadResult::kComplete) << outcome.detail;
  EXPECT_EQ(Local("postcode.txt"), second);
  EXPECT_EQ(Local("postver.txt"), "2\r\n");
  EXPECT_GT(Sent(server, "editions/2/postcode.txt.from-1.delta.gz"), 0u);
  EXPECT_LT(Sent(server), fs::file_size(server.root() / "editions/2/postcode.txt.gz") / 4);

  // An older signed manifest, another release's bytes, a garbage manifest:
  // each is refused, says why, and the local set stays.
  const std::string manifest2 = ReadBytes(server.root() / "manifest.txt");
  const std::string signature2 = ReadBytes(server.root() / "manifest.txt.sig");
  const std::string third = NextEdition(second, 3);
  Release(server, third, "3");
  const std::string manifest3 = ReadBytes(server.root() / "manifest.txt");
  const std::string signature3 = ReadBytes(server.root() / "manifest.txt.sig");
  struct Bad {
    const char* what;
    std::function<void()> serve;
    const char* status;
  };
  const fs::path root = server.root();
  const Bad bads[] = {
      {"rollback",
       [&] {
         WriteBytes(root / "manifest.txt", manifest1);
         WriteBytes(root / "manifest.txt.sig", signature1);
       },
       "2판"},
      {"unsigned", [&] { fs::remove(root / "manifest.txt.sig"); }, "manifest.txt"},
      {"another manifest's signature", [&] { WriteBytes(root / "manifest.txt.sig", signature2); }, "manifest.txt"},
      {"mixed releases",
       [&] {
         for (const char* form : {"editions/3/postcode.txt.gz", "editions/3/postcode.txt.from-2.delta.gz",
                                  "editions/3/postcode.txt.from-1.delta.gz"}) {
           fs::copy_file(root / "editions/2/postcode.txt.gz", root / form, fs::copy_options::overwrite_existing);
         }
         WriteBytes(root / "postcode.txt", second);
       },
       "postcode.txt"},
      // A small body that would inflate past the file's size is stopped at it.
      {"compression bomb",
       [&] {
         const std::string zeros(8 << 20, '0');
         WriteBytes(root / "zeros", zeros);
         ASSERT_EQ(std::system(("gzip -9c '" + (root / "zeros").string() + "' > '" +
                                (root / "editions/3/postcode.txt.gz").string() + "'")
                                   .c_str()),
                   0);
       },
       "postcode.txt"},
  };
  for (const Bad& bad : bads) {
    bad.serve();
    outcome = Update(server);
    EXPECT_EQ(outcome.result, DownloadResult::kRefused) << bad.what << ": " << outcome.detail;
    EXPECT_NE(status_.find(bad.status), std::string::npos) << bad.what << ": " << status_;
    EXPECT_EQ(Local("postcode.txt"), second) << bad.what;
    EXPECT_EQ(Local("manifest.txt"), manifest2) << bad.what;
    for (const auto& left : fs::directory_iterator(fs::path(folder_) / marlix::kWorkFolder)) {
      EXPECT_LE(fs::file_size(left.path()), third.size()) << bad.what << ": " << left.path();
    }
    WriteBytes(root / "manifest.txt", manifest3);
    WriteBytes(root / "manifest.txt.sig", signature3);
  }
}

// A transfer cut off goes on where it stopped; a server that ignores Range
// sends it all again, and the result is right either way.
TEST_F(DataUpdateTest, ACutTransferResumesWithRangeOrStartsOverWithout) {
  ServiceServer server({}, marlix_test::Signing::kOnlyGiven);
  const std::string data = ReadBytes(MARLIX_REAL_DATA);
  Release(server, data, "1");
  const std::string gzip = "editions/1/postcode.txt.gz";
  const std::uint64_t size = fs::file_size(server.root() / gzip);
  for (const bool ranges : {true, false}) {
    fs::remove_all(folder_);
    Control(server, "fault?name=" + gzip + "&cut=" + std::to_string(size / 2));
    DataUpdateOutcome outcome = Update(server);
    EXPECT_EQ(outcome.result, DownloadResult::kNetworkFailure);
    EXPECT_FALSE(fs::exists(fs::path(folder_) / "postcode.txt"));
    Control(server, ranges ? "clear" : "fault?name=" + gzip + "&norange=1");
    Control(server, "sent?reset=1");
    outcome = Update(server);
    ASSERT_EQ(outcome.result, DownloadResult::kComplete) << outcome.detail;
    EXPECT_EQ(Local("postcode.txt"), data);
    // What arrived whole before the cut is not fetched again.
    EXPECT_EQ(Sent(server, "editions/1/post.csv.gz"), 0u);
    if (ranges) {
      EXPECT_LT(Sent(server, gzip), size / 2 + size / 20);
    } else {
      EXPECT_EQ(Sent(server, gzip), size);
    }
    Control(server, "clear");
  }
  // A cancel stops at once and keeps the old set; the next try completes.
  std::atomic<bool> cancel{true};
  fs::remove_all(folder_);
  EXPECT_EQ(Update(server, &cancel).result, DownloadResult::kCancelled);
  EXPECT_FALSE(fs::exists(fs::path(folder_) / "postcode.txt"));
  EXPECT_EQ(Update(server).result, DownloadResult::kComplete);
}

// A disk that fills while the new set arrives stops the update with a
// message that says so; the old set stays. Needs a small file system of its
// own, which only root can mount.
TEST_F(DataUpdateTest, AFullDiskKeepsTheOldSetAndSaysSo) {
  const fs::path disk = fs::path(work_) / "disk";
  fs::create_directories(disk);
  if (std::system(("mount -t tmpfs -o size=1m tmpfs '" + disk.string() + "' 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "no tmpfs to fill here";
  }
  mounted_ = disk.string();
  folder_ = (disk / "data").string();
  ServiceServer server({}, marlix_test::Signing::kOnlyGiven);
  Release(server, "06315 a\r\n", "1");
  ASSERT_EQ(Update(server).result, DownloadResult::kComplete);
  Release(server, ReadBytes(MARLIX_REAL_DATA), "2");
  std::string message;
  marlix::ServiceAccess access;
  access.base_url = server.url();
  marlix::DataUpdateEvents events;
  events.local_failure = [&](const std::string& text) { message = text; };
  EXPECT_EQ(marlix::UpdateDataFiles(access, "test", folder_, events).result, DownloadResult::kLocalFileFailure);
  EXPECT_NE(message.find("디스크 공간이 부족합니다."), std::string::npos) << message;
  EXPECT_EQ(Local("postcode.txt"), "06315 a\r\n");
  EXPECT_EQ(Local("postver.txt"), "1\r\n");
}

// The set changes as one: a change killed before its marker leaves the old
// set, and one killed after it is finished by the next start, whichever file
// it had reached.
TEST_F(DataUpdateTest, AnInterruptedChangeEndsWithAWholeSet) {
  const fs::path folder = folder_;
  const fs::path work = folder / marlix::kWorkFolder;
  for (int moved = -1; moved <= 4; ++moved) {
    fs::remove_all(folder);
    fs::create_directories(work);
    for (const char* name : kFiles) {
      WriteBytes(folder / name, std::string("old ") + name);
      WriteBytes(work / name, std::string("new ") + name);
    }
    WriteBytes(work / marlix::kManifestFile, "new manifest");
    // The kill came after `moved` files were moved in (-1: before the marker).
    if (moved >= 0) WriteBytes(work / "commit", "whole\n");
    const char* order[] = {"post.csv", "postcode.txt", "postver.txt", marlix::kManifestFile};
    for (int i = 0; i < moved; ++i) fs::rename(work / order[i], folder / order[i]);
    EXPECT_TRUE(marlix::RecoverDataSet(folder_));
    for (const char* name : kFiles) {
      EXPECT_EQ(ReadBytes(folder / name), std::string(moved >= 0 ? "new " : "old ") + name) << moved;
    }
    EXPECT_FALSE(fs::exists(work / "commit"));
  }
}

// A manifest is taken only in its one form; what it lists stays under the
// service's folder and within the files' caps.
TEST(ManifestTest, ReadsItsOwnTextAndNothingElse) {
  const std::string sha(64, 'a');
  const std::string good = "marlix-manifest 1\nedition 7\npublished 2026-12-08\nprogram Marlix.exe 1.2.0.10 100 " +
                           sha + "\nfile postcode.txt 10 " + sha + "\ngzip postcode.txt editions/7/p.gz 5 " + sha +
                           "\ndelta postcode.txt " + sha + " editions/7/d.gz 3 " + sha + " 9\n";
  const marlix::ManifestParse parse = marlix::ParseManifest(good);
  ASSERT_TRUE(parse.manifest) << parse.error;
  EXPECT_EQ(marlix::ManifestText(*parse.manifest), good);
  EXPECT_EQ(parse.manifest->Find("postcode.txt")->forms.back().kind, marlix::FormKind::kPlain);
  const std::string head = "marlix-manifest 1\nedition 7\npublished 2026-12-08\n";
  const std::string bad[] = {
      "marlix-manifest 2\nedition 7\npublished 2026-12-08\n",
      head.substr(0, head.size() - 1),                          // no line feed at the end
      "marlix-manifest 1\npublished 2026-12-08\n",              // no edition
      "marlix-manifest 1\nedition 07\npublished 2026-12-08\n",  // not the number's one form
      "marlix-manifest 1\nedition 0\npublished 2026-12-08\n",   // outside the editions' range
      "marlix-manifest 1\nedition 1000000000\npublished 2026-12-08\n",
      head + "edition 8\n",                                     // twice
      "marlix-manifest 1\nedition 7 \npublished 2026-12-08\n",  // a space after the last field
      head + "file Marlix.exe 10 " + sha + "\n",                // not a data file
      head + "file postcode.txt 10 " + sha + "\nfile postcode.txt 10 " + sha + "\n",
      head + "file postcode.txt 2000000000 " + sha + "\n",     // past the cap
      head + "file postcode.txt 10 " + sha.substr(1) + "g\n",  // not a hash
      head + "gzip postcode.txt p.gz 5 " + sha + "\n",         // a form before its file
      head + "file postcode.txt 10 " + sha + "\ngzip postcode.txt ../p.gz 5 " + sha + "\n",
      head + "file postcode.txt 10 " + sha + "\ngzip postcode.txt /p.gz 5 " + sha + "\n",
      head + "file postcode.txt 10 " + sha + "\ngzip postcode.txt p?x=1 5 " + sha + "\n",
      head + "mirror http://elsewhere/\n",
      head + std::string(70000, 'x') + "\n",
  };
  for (const std::string& text : bad) EXPECT_FALSE(marlix::ParseManifest(text).manifest) << text.substr(0, 200);
}

// A line longer than any data line, in the base or in the delta's
// operations, stops the delta where it passes the bound: no more of it is read.
TEST(LineDeltaTest, ALineLongerThanADataLineIsNotReadOn) {
  const std::string long_line(10 << 20, 'x');
  const std::string rows[][2] = {
      {"a\n" + long_line + "\n", "marlix-delta 1\nc 2\ne\n"},
      {"a\n", "marlix-delta 1\nc 1" + long_line + "\ne\n"},
      {"a\n", "marlix-delta 1" + long_line},
  };
  for (const auto& [from, delta] : rows) {
    std::FILE* base = fmemopen(const_cast<char*>(from.data()), from.size(), "rb");
    std::FILE* ops = fmemopen(const_cast<char*>(delta.data()), delta.size(), "rb");
    std::string error;
    EXPECT_FALSE(marlix::ApplyLineDelta(
        base, ops, [](std::string_view) { return true; }, error));
    EXPECT_LT(std::ftell(base) + std::ftell(ops), 1 << 20) << error;
    std::fclose(base);
    std::fclose(ops);
  }
}

// A delta turns one text into the other whatever the change; one that does
// not fit its base is refused.
TEST(LineDeltaTest, AppliesToItsBaseAndOnlyToIt) {
  const std::string cases[][2] = {
      {"", "a\n"},
      {"a\nb\nc\n", "a\nc\n"},
      {"a\nb\nc\n", "c\nb\na\n"},
      {"a\na\nb\n", "a\nb\nb\nx"},
      {"no end", "no end\nnew"},
      {"x\r\ny\r\n", ""},
  };
  for (const auto& [from, to] : cases) {
    const std::string delta = marlix::testing::LineDeltaOf(from, to);
    // The old file streams by in pieces that cut its lines anywhere.
    EXPECT_EQ(marlix::testing::LineDeltaOf(from, to, 1), delta) << from;
    EXPECT_EQ(marlix::testing::LineDeltaOf(from, to, 3), delta) << from;
    std::FILE* base = fmemopen(const_cast<char*>(from.data()), from.size(), "rb");
    std::FILE* ops = fmemopen(const_cast<char*>(delta.data()), delta.size(), "rb");
    std::string out, error;
    EXPECT_TRUE(marlix::ApplyLineDelta(
        base ? base : std::tmpfile(), ops,
        [&](std::string_view piece) {
          out += piece;
          return true;
        },
        error))
        << error;
    EXPECT_EQ(out, to) << delta;
    std::fclose(ops);
    if (base) std::fclose(base);
    // The same delta over another base does not apply.
    const std::string other = from + "\nextra\n";
    base = fmemopen(const_cast<char*>(other.data()), other.size(), "rb");
    ops = fmemopen(const_cast<char*>(delta.data()), delta.size(), "rb");
    EXPECT_FALSE(marlix::ApplyLineDelta(
        base, ops, [](std::string_view) { return true; }, error))
        << from;
    std::fclose(base);
    std::fclose(ops);
  }
}

}  // namespace

// marlix-search update as a user runs it, against the test service server.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <vector>
#include <string>

#include "cp949_literal.h"
#include "data_set.h"
#include "service_server.h"

namespace {

namespace fs = std::filesystem;
using marlix::testing::operator""_cp949;
using marlix_test::Control;
using marlix_test::ReadBytes;
using marlix_test::ServiceServer;
using marlix_test::WriteBytes;

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs marlix-search with its data home in `home`; `args` are shell words. A
// run that hangs is ended after a minute.
CliRun RunSearch(const fs::path& home, const std::string& args, const std::string& env = "") {
  CliRun run;
  const std::string command = "timeout 60 env -u MARLIX_SERVER_URL XDG_DATA_HOME='" + home.string() + "' " + env +
                              " '" + MARLIX_SEARCH_EXE + "' " + args + " >'" + (home / "out").string() + "' 2>'" +
                              (home / "err").string() + "' </dev/null";
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadBytes(home / "out");
  run.err = ReadBytes(home / "err");
  return run;
}

CliRun RunUpdate(const fs::path& home, const std::string& args, const std::string& env = "") {
  return RunSearch(home, "update " + args, env);
}

class UpdateCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = marlix_test::MakeTempDir("home");
    data_ = home_ / "marlix";
    served_["post.csv"] = "우편번호,시도,시군구,도로명 수,건물 수\r\n06315,서울특별시,강남구,2,45\r\n"_cp949;
    // Some 300 KB, about 90 KB compressed: a cut in the middle leaves whole blocks to resume from.
    for (unsigned i = 0; i < 16000; ++i) {
      served_["postcode.txt"] +=
          "999-" + std::to_string(100 + i % 900) + " new " + std::to_string(i * 2654435761u) + "\r\n";
    }
    served_["postver.txt"] = "2026.12\r\n";
  }
  void TearDown() override { fs::remove_all(home_); }
  void ServeAll(const ServiceServer& server) {
    for (const auto& [name, bytes] : served_) server.Serve(name, bytes);
  }

  // The files as a user had them before, in the data folder.
  void PlaceOldFiles() {
    fs::remove_all(data_);
    fs::create_directories(data_);
    for (const auto& [name, bytes] : served_) WriteBytes(data_ / name, "old " + name);
  }
  // True when the data folder holds the served files, or else the old ones.
  bool Holds(bool served) const {
    for (const auto& [name, bytes] : served_) {
      if (ReadBytes(data_ / name) != (served ? bytes : "old " + name)) return false;
    }
    return true;
  }
  // Publishes the served files as the next edition, as the operator does.
  void Release(const ServiceServer& server) {
    const fs::path release = home_ / "release";
    fs::create_directories(release);
    for (const auto& [name, bytes] : served_) WriteBytes(release / name, bytes);
    const fs::path key = home_ / "key.pem";
    fs::copy_file(MARLIX_TEST_SIGNING_KEY, key, fs::copy_options::overwrite_existing);
    fs::permissions(key, fs::perms::owner_read | fs::perms::owner_write);
    const std::string command = std::string("'") + MARLIX_PUBLISH_EXE + "' release --key '" + key.string() +
                                "' --to '" + server.root().string() + "' --data '" + release.string() + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  fs::path home_, data_;
  std::map<std::string, std::string> served_;
};

TEST_F(UpdateCommandTest, FetchesTheThreeFilesIntoTheDataFolderWithALinePerFile) {
  ServiceServer server;
  ServeAll(server);
  // The address comes from --server, or else from the environment.
  for (const std::string& how : {std::string("--server ") + server.url(), std::string()}) {
    const CliRun run = RunUpdate(home_, how, how.empty() ? "MARLIX_SERVER_URL=" + server.url() : "");
    ASSERT_EQ(run.status, 0) << run.err;
    for (const auto& [name, bytes] : served_) {
      EXPECT_EQ(ReadBytes(home_ / "marlix" / name), bytes) << name;
      EXPECT_NE(run.out.find(name + " "), std::string::npos) << run.out;
    }
    EXPECT_NE(run.out.find(server.url()), std::string::npos) << run.out;
  }
}

TEST_F(UpdateCommandTest, AFailureKeepsTheFilesNotYetReplacedAndFails) {
  ServiceServer server({"postcode.txt:cut=100"});
  ServeAll(server);
  fs::create_directories(home_ / "marlix");
  marlix_test::WriteBytes(home_ / "marlix" / "postcode.txt", "old\n");
  const CliRun run = RunUpdate(home_, "--server " + server.url());
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("postcode.txt"), std::string::npos) << run.err;
  EXPECT_EQ(ReadBytes(home_ / "marlix" / "post.csv"), served_["post.csv"]);
  EXPECT_EQ(ReadBytes(home_ / "marlix" / "postcode.txt"), "old\n");
  EXPECT_FALSE(fs::exists(home_ / "marlix" / "postver.txt"));
}

// Runs the openssl command line, the independent judge of what is signed.
bool Openssl(const std::string& args) {
  std::string command = "'" MARLIX_OPENSSL "' ";
  command += args;
  command += " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// A server that signs nothing itself: each file is signed with openssl as an
// operator would, with the build's key, and then one file is spoilt.
TEST_F(UpdateCommandTest, OnlyFilesSignedWithTheBuiltInKeyReplaceTheOldOnes) {
  const fs::path other_key = home_ / "other.pem";
  const fs::path public_key = home_ / "public.pem";
  ASSERT_TRUE(Openssl("genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out '" + other_key.string() + "'"));
  ASSERT_TRUE(
      Openssl("pkey -in '" + std::string(MARLIX_TEST_SIGNING_KEY) + "' -pubout -out '" + public_key.string() + "'"));
  auto openssl_verifies = [&](const fs::path& file) {
    return Openssl("dgst -sha256 -verify '" + public_key.string() + "' -signature '" + file.string() + ".sig' '" +
                   file.string() + "'");
  };
  struct Row {
    const char* what;
    std::string file;                                 // the file spoilt
    std::function<void(const fs::path& root)> spoil;  // what is done to it or its signature
    const char* why;                                  // in the error output
    bool publishers = false;                          // the bytes are signed with the build's key
  };
  auto sign = [&](const fs::path& file, const fs::path& key, const fs::path& out) {
    ASSERT_TRUE(
        Openssl("dgst -sha256 -sign '" + key.string() + "' -out '" + out.string() + "' '" + file.string() + "'"));
  };
  // A file and its signature served under another file's name.
  auto serve_as = [](const std::string& file, const std::string& name) {
    return [=](const fs::path& root) {
      for (const char* suffix : {"", ".sig"}) {
        fs::copy_file(root / (file + suffix), root / (name + suffix), fs::copy_options::overwrite_existing);
      }
    };
  };
  const std::vector<Row> rows = {
      {"signed with the build's key", "", [](const fs::path&) {}, ""},
      {"unsigned", "postcode.txt", [](const fs::path& root) { fs::remove(root / "postcode.txt.sig"); },
       "no signature on the server"},
      {"signed with another key", "postcode.txt",
       [&](const fs::path& root) { sign(root / "postcode.txt", other_key, root / "postcode.txt.sig"); },
       "not the publisher's signature"},
      {"the signature of another file", "postcode.txt",
       [](const fs::path& root) {
         fs::copy_file(root / "post.csv.sig", root / "postcode.txt.sig", fs::copy_options::overwrite_existing);
       },
       "not the publisher's signature"},
      {"a cut signature", "postcode.txt", [](const fs::path& root) { fs::resize_file(root / "postcode.txt.sig", 20); },
       "not the publisher's signature"},
      {"a garbage signature", "postcode.txt",
       [](const fs::path& root) { marlix_test::WriteBytes(root / "postcode.txt.sig", "not a signature\n"); },
       "not the publisher's signature"},
      {"a version text past its 64 KB, signed", "postver.txt",
       [&](const fs::path& root) {
         marlix_test::WriteBytes(root / "postver.txt", std::string(64 * 1024 + 1, 'v'));
         sign(root / "postver.txt", MARLIX_TEST_SIGNING_KEY, root / "postver.txt.sig");
       },
       "more than 65536 bytes", true},
      // Without a manifest nothing binds signed bytes to a name: each file
      // must be what its name says.
      {"postver.txt's signed bytes as postcode.txt", "postcode.txt", serve_as("postver.txt", "postcode.txt"),
       "postcode.txt is not such a file: line 1", true},
      {"postcode.txt's signed bytes as post.csv", "post.csv", serve_as("postcode.txt", "post.csv"),
       "its first row is not post.csv's header", true},
      {"signed bytes that are not text as postver.txt", "postver.txt",
       [&](const fs::path& root) {
         marlix_test::WriteBytes(root / "postver.txt", std::string("2026.12\r\n\x01\x02", 11));
         sign(root / "postver.txt", MARLIX_TEST_SIGNING_KEY, root / "postver.txt.sig");
       },
       "not text (byte 9)", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ServiceServer server({}, marlix_test::Signing::kOnlyGiven);
    ServeAll(server);
    for (const auto& [name, bytes] : served_) {
      sign(server.root() / name, MARLIX_TEST_SIGNING_KEY, server.root() / (name + ".sig"));
    }
    row.spoil(server.root());
    // openssl judges the signatures as the programs do; the size and the forms are the programs' own rules.
    if (!row.file.empty()) EXPECT_EQ(openssl_verifies(server.root() / row.file), row.publishers);
    fs::create_directories(home_ / "marlix");
    for (const auto& [name, bytes] : served_) marlix_test::WriteBytes(home_ / "marlix" / name, "old " + name);
    const CliRun run = RunUpdate(home_, "--server " + server.url());
    for (const auto& [name, bytes] : served_) {
      // Files before the one refused are new; it and those after it keep their bytes.
      const bool replaced = row.file.empty() || name < row.file;
      EXPECT_EQ(ReadBytes(home_ / "marlix" / name), replaced ? bytes : "old " + name) << name;
      EXPECT_FALSE(fs::exists(home_ / "marlix" / (name + ".part"))) << name;
    }
    if (row.file.empty()) {
      EXPECT_EQ(run.status, 0) << run.err;
      continue;
    }
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("refused " + row.file), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(row.why), std::string::npos) << run.err;
  }
}

// A released edition, and a service or a data folder that fails one way in
// each row: the update ends with the files the user had or with the
// edition's, never with anything else, within seconds, and says why; an
// edition put in place is synced to the disk.
TEST_F(UpdateCommandTest, AHostileServiceOrFolderLeavesTheOldFilesOrGivesTheEdition) {
  const std::string gzip = "editions/1/postcode.txt.gz";
  struct Row {
    const char* what;
    std::function<void(const ServiceServer& server)> fault;
    const char* err;  // in the error output; none: the edition arrives
    std::string env = "";
    bool installed = false;  // the edition was installed before the fault
  };
  auto signed_manifest = [](const ServiceServer& server, const std::string& text) {
    const std::string manifest = (server.root() / "manifest.txt").string();
    WriteBytes(manifest, text);
    ASSERT_TRUE(
        Openssl("dgst -sha256 -sign '" MARLIX_TEST_SIGNING_KEY "' -out '" + manifest + ".sig' '" + manifest + "'"));
  };
  auto cut_gzip_first = [&](const ServiceServer& server, const std::string& then) {
    Control(server, "fault?name=" + gzip + "&cut=" + std::to_string(fs::file_size(server.root() / gzip) / 2));
    ASSERT_EQ(RunUpdate(home_, "--server " + server.url()).status, 2) << "the cut leaves a part";
    Control(server, "fault?name=" + gzip + "&" + then);
  };
  const std::vector<Row> rows = {
      {"a manifest signed with another key",
       [&](const ServiceServer& server) {
         WriteBytes(server.root() / "manifest.txt.sig", Control(server, "signature?name=manifest.txt&key=other"));
       },
       "refused manifest.txt: "},
      {"an unsigned manifest", [](const ServiceServer& server) { fs::remove(server.root() / "manifest.txt.sig"); },
       "refused manifest.txt: no signature"},
      {"a signed manifest past its 64 KB",
       [&](const ServiceServer& server) {
         signed_manifest(server, ReadBytes(server.root() / "manifest.txt") + std::string(70000, '#') + "\n");
       },
       "refused manifest.txt: "},
      {"a signed manifest that does not read",
       [&](const ServiceServer& server) { signed_manifest(server, "marlix-manifest 9\n"); },
       "refused manifest.txt: manifest line 1"},
      {"a server error for the manifest",
       [](const ServiceServer& server) { Control(server, "fault?name=manifest.txt&status=500"); },
       "cannot download manifest.txt: HTTP status 500"},
      {"a manifest sent a byte a second",
       [](const ServiceServer& server) { Control(server, "fault?name=manifest.txt&rate=1"); },
       "cannot download manifest.txt: the answer did not arrive whole within its deadline",
       "MARLIX_SMALL_FILE_DEADLINE_MS=1500"},
      {"a data file sent at 20 bytes a second",
       [&](const ServiceServer& server) { Control(server, "fault?name=" + gzip + "&rate=20"); },
       "cannot download postcode.txt: fewer than 1024 bytes in 1500 ms", "MARLIX_RATE_FLOOR=1024/1500"},
      {"a resume answered with a part from another byte",
       [&](const ServiceServer& server) { cut_gzip_first(server, "partfrom=0"); }, nullptr},
      {"a resume answered with a length that cannot hold it",
       [&](const ServiceServer& server) { cut_gzip_first(server, "parttotal=10"); }, nullptr},
      {"a link in the work folder to the edition's own bytes",
       [&](const ServiceServer&) {
         WriteBytes(home_ / "planted", served_["postcode.txt"]);
         fs::create_directories(data_ / marlix::kWorkFolder);
         fs::create_symlink(home_ / "planted", data_ / marlix::kWorkFolder / "postcode.txt");
       },
       nullptr},
      {"a work folder that anyone may write",
       [&](const ServiceServer&) {
         fs::create_directories(data_ / marlix::kWorkFolder);
         fs::permissions(data_ / marlix::kWorkFolder, fs::perms::all);
       },
       nullptr},
      {"damage of the same size to an installed file",
       [&](const ServiceServer&) {
         std::string damaged = ReadBytes(data_ / "postcode.txt");
         damaged[10] ^= 1;
         WriteBytes(data_ / "postcode.txt", damaged);
       },
       nullptr, "", true},
  };
  // The system calls of an update that succeeds: after the renames that put
  // the set in place, the folder is synced, so that a power loss keeps it.
  const bool traced = std::system("strace -o /dev/null true 2>/dev/null") == 0;
  const std::string calls = (home_ / "calls").string();
  auto synced = [&] {
    const std::string log = ReadBytes(calls);
    const std::size_t renamed = log.find("\"" + (data_ / "manifest.txt").string() + "\") = 0");
    const std::string open = "openat(AT_FDCWD, \"" + data_.string() + "\", O_RDONLY|O_CLOEXEC|O_DIRECTORY) = ";
    const std::size_t opened = log.find(open, renamed == std::string::npos ? log.size() : renamed);
    // The call after that open is the folder's sync.
    const std::size_t fd = opened + open.size(), end = log.find('\n', fd);
    return opened != std::string::npos &&
           log.substr(end, log.find('\n', end + 1) - end).find("fsync(" + log.substr(fd, end - fd) + ")") !=
               std::string::npos;
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ServiceServer server({}, marlix_test::Signing::kOnlyGiven);
    Release(server);
    PlaceOldFiles();
    if (row.installed) ASSERT_EQ(RunUpdate(home_, "--server " + server.url()).status, 0);
    row.fault(server);
    const double start = marlix_test::NowSeconds();
    // (LeakSanitizer, in the sanitizer build, cannot run under a tracer.)
    const std::string trace =
        traced ? " ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e trace=openat,rename,fsync -o '" + calls + "'" : "";
    const CliRun run = RunUpdate(home_, "--server " + server.url(), row.env + trace);
    EXPECT_LT(marlix_test::NowSeconds() - start, 10.0);
    if (row.err == nullptr) {
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_TRUE(Holds(true));
      EXPECT_TRUE(!traced || synced()) << ReadBytes(calls);
    } else {
      EXPECT_EQ(run.status, 2);
      EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
      EXPECT_TRUE(Holds(false)) << "nothing is installed";
      EXPECT_FALSE(fs::exists(data_ / "manifest.txt"));
    }
    for (const auto& [name, bytes] : served_) EXPECT_FALSE(fs::is_symlink(data_ / name)) << name;
    if (fs::exists(data_ / marlix::kWorkFolder)) {
      EXPECT_EQ(fs::status(data_ / marlix::kWorkFolder).permissions(), fs::perms::owner_all);
    }
  }
}

// A search finishes a change of the set that a kill interrupted before it
// reads anything, and follows no link that someone left for it.
TEST_F(UpdateCommandTest, ASearchFinishesAnInterruptedChangeAndFollowsNoLink) {
  const fs::path work = data_ / marlix::kWorkFolder;
  const fs::path elsewhere = home_ / "elsewhere";
  const std::string old_line = "999-001 old", new_line = "999-002 new", foreign_line = "999-003 foreign";
  // The new set, marked whole, in `folder`; `moved` of its files already in place.
  auto stage = [&](const fs::path& folder, const std::string& line, int moved) {
    fs::create_directories(folder);
    const char* names[] = {"post.csv", "postcode.txt", "postver.txt", "manifest.txt"};
    for (int i = 0; i < 4; ++i) WriteBytes((i < moved ? data_ : folder) / names[i], line + "\n");
    WriteBytes(folder / "commit", "whole\n");
  };
  struct Row {
    const char* what;
    std::function<void()> leave;
    const std::string& line;     // what the search finds in postcode.txt
    const std::string& version;  // what postver.txt then holds
  };
  const Row rows[] = {
      {"killed after the marker", [&] { stage(work, new_line, 0); }, new_line, new_line},
      {"killed after two files went in", [&] { stage(work, new_line, 2); }, new_line, new_line},
      {"the work folder a link to a marked set elsewhere",
       [&] {
         stage(elsewhere, foreign_line, 0);
         fs::create_directory_symlink(elsewhere, work);
       },
       old_line, old_line},
      {"the data file's stage a link elsewhere",
       [&] {
         stage(work, new_line, 0);
         WriteBytes(home_ / "foreign", foreign_line + "\n");
         fs::remove(work / "postcode.txt");
         fs::create_symlink(home_ / "foreign", work / "postcode.txt");
       },
       old_line, new_line},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(elsewhere);
    fs::remove_all(data_);
    fs::create_directories(data_);
    for (const char* name : {"post.csv", "postcode.txt", "postver.txt"}) WriteBytes(data_ / name, old_line + "\n");
    row.leave();
    const CliRun run = RunSearch(home_, "--data '" + (data_ / "postcode.txt").string() + "' code 999");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, row.line + "\n");
    EXPECT_FALSE(fs::exists(work / "commit"));
    EXPECT_FALSE(fs::is_symlink(work));
    EXPECT_FALSE(fs::is_symlink(data_ / "postcode.txt"));
    if (fs::exists(elsewhere)) EXPECT_TRUE(fs::exists(elsewhere / "commit")) << "what a link led to is left alone";
    EXPECT_EQ(ReadBytes(data_ / "postver.txt"), row.version + "\n");
  }
}

TEST_F(UpdateCommandTest, BadArgumentsAreUsageErrors) {
  EXPECT_EQ(RunUpdate(home_, "--server").status, 2);
  const CliRun run = RunUpdate(home_, "--bogus");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("Usage: marlix-search update"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(home_ / "marlix")) << "nothing is fetched after a usage error";
}

}  // namespace

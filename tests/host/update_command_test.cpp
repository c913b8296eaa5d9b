// marlix-search update as a user runs it, against the test service server.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <vector>
#include <string>

#include "service_server.h"

namespace {

namespace fs = std::filesystem;
using marlix_test::ReadBytes;
using marlix_test::ServiceServer;

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs marlix-search with its data home in `home`; `args` are shell words.
CliRun RunUpdate(const fs::path& home, const std::string& args, const std::string& env = "") {
  CliRun run;
  const std::string command = "env -u MARLIX_SERVER_URL XDG_DATA_HOME='" + home.string() + "' " + env + " '" +
                              MARLIX_SEARCH_EXE + "' update " + args + " >'" + (home / "out").string() +
                              "' 2>'" + (home / "err").string() + "' </dev/null";
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadBytes(home / "out");
  run.err = ReadBytes(home / "err");
  return run;
}

class UpdateCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = marlix_test::MakeTempDir("home");
    for (const char* name : {"post.csv", "postcode.txt", "postver.txt"}) {
      served_[name] = marlix_test::PatternBytes(4096 + name[4], name[4]);
    }
  }
  void TearDown() override { fs::remove_all(home_); }
  void ServeAll(const ServiceServer& server) {
    for (const auto& [name, bytes] : served_) server.Serve(name, bytes);
  }

  fs::path home_;
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
  ASSERT_TRUE(Openssl("pkey -in '" + std::string(MARLIX_TEST_SIGNING_KEY) + "' -pubout -out '" +
                      public_key.string() + "'"));
  auto openssl_verifies = [&](const fs::path& file) {
    return Openssl("dgst -sha256 -verify '" + public_key.string() + "' -signature '" + file.string() + ".sig' '" +
                   file.string() + "'");
  };
  struct Row {
    const char* what;
    std::string file;                                    // the file spoilt
    std::function<void(const fs::path& root)> spoil;     // what is done to it or its signature
    const char* why;                                     // in the error output
  };
  auto sign = [&](const fs::path& file, const fs::path& key, const fs::path& out) {
    ASSERT_TRUE(Openssl("dgst -sha256 -sign '" + key.string() + "' -out '" + out.string() + "' '" +
                        file.string() + "'"));
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
      {"a cut signature", "postcode.txt",
       [](const fs::path& root) { fs::resize_file(root / "postcode.txt.sig", 20); }, "not the publisher's signature"},
      {"a garbage signature", "postcode.txt",
       [](const fs::path& root) { marlix_test::WriteBytes(root / "postcode.txt.sig", "not a signature\n"); },
       "not the publisher's signature"},
      {"a version text past its 64 KB, signed", "postver.txt",
       [&](const fs::path& root) {
         marlix_test::WriteBytes(root / "postver.txt", std::string(64 * 1024 + 1, 'v'));
         sign(root / "postver.txt", MARLIX_TEST_SIGNING_KEY, root / "postver.txt.sig");
       },
       "more than 65536 bytes"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ServiceServer server({}, marlix_test::Signing::kOnlyGiven);
    ServeAll(server);
    for (const auto& [name, bytes] : served_) {
      sign(server.root() / name, MARLIX_TEST_SIGNING_KEY, server.root() / (name + ".sig"));
    }
    row.spoil(server.root());
    // openssl judges the signatures as the programs do; only the size is the programs' own rule.
    if (!row.file.empty()) {
      EXPECT_EQ(openssl_verifies(server.root() / row.file), row.file == "postver.txt");
    }
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

TEST_F(UpdateCommandTest, BadArgumentsAreUsageErrors) {
  EXPECT_EQ(RunUpdate(home_, "--server").status, 2);
  const CliRun run = RunUpdate(home_, "--bogus");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("Usage: marlix-search update"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(home_ / "marlix")) << "nothing is fetched after a usage error";
}

}  // namespace

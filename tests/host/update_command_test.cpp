// marlix-search update as a user runs it, against the test service server.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>
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

TEST_F(UpdateCommandTest, BadArgumentsAreUsageErrors) {
  EXPECT_EQ(RunUpdate(home_, "--server").status, 2);
  const CliRun run = RunUpdate(home_, "--bogus");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("Usage: marlix-search update"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(home_ / "marlix")) << "nothing is fetched after a usage error";
}

}  // namespace

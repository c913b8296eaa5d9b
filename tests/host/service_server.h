// The test service server as a child of the test: a folder of its own, a free
// port on 127.0.0.1, stopped when the object goes (or when the test process
// dies, since it stops when its standard input closes).
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_files.h"

extern char** environ;

namespace marlix_test {

// Bytes of every value, CR, LF and NUL among them, the same on every run.
inline std::string PatternBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned x = seed * 2654435761u + 1;
  for (char& c : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x >> 24);
  }
  return bytes;
}

inline double NowSeconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// What a server signs: every file with the build's development key, as the
// publisher would, or only what the test puts beside its files.
enum class Signing { kEveryFile, kOnlyGiven };

class ServiceServer {
 public:
  // `faults` are NAME:FAULTS as the server's --fault takes them.
  explicit ServiceServer(const std::vector<std::string>& faults = {}, Signing signing = Signing::kEveryFile)
      : root_(MakeTempDir("served")) {
    std::vector<std::string> args = {MARLIX_TEST_SERVER_EXE, "--root",     root_, "--port", "0",
                                     "--stop-on-stdin-eof",  "--lifetime", "600"};
    if (signing == Signing::kEveryFile) {
      args.push_back("--sign-key");
      args.push_back(MARLIX_TEST_SIGNING_KEY);
    }
    for (const std::string& fault : faults) {
      args.push_back("--fault");
      args.push_back(fault);
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int in[2];
    int out[2];
    // Close-on-exec, so that a later server does not hold this one's input open.
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe failed";
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    if (rc != 0) {
      pid_ = 0;
      close(out[0]);
      ADD_FAILURE() << "cannot start " << MARLIX_TEST_SERVER_EXE;
      return;
    }
    // The first line on stdout is the base address, once it listens.
    const double deadline = NowSeconds() + 10;
    char c;
    while (NowSeconds() < deadline) {
      pollfd p{out[0], POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      if (read(out[0], &c, 1) != 1 || c == '\n') break;
      url_ += c;
    }
    close(out[0]);
    if (url_.rfind("http://127.0.0.1:", 0) != 0) ADD_FAILURE() << "the server did not start: '" << url_ << "'";
  }

  ~ServiceServer() {
    Stop();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  ServiceServer(const ServiceServer&) = delete;
  ServiceServer& operator=(const ServiceServer&) = delete;

  // Ends the server; its address then refuses connections.
  void Stop() {
    if (stdin_ >= 0) close(stdin_);
    stdin_ = -1;
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = 0;
    }
  }

  const std::string& url() const { return url_; }
  std::filesystem::path root() const { return root_; }
  void Serve(const std::string& name, const std::string& bytes) const { WriteBytes(root() / name, bytes); }

 private:
  std::string root_;
  std::string url_;
  pid_t pid_ = 0;
  int stdin_ = -1;
};

// A GET to the server's control address, answered in full.
inline std::string Control(const ServiceServer& server, const std::string& query) {
  const int port = std::stoi(server.url().substr(server.url().rfind(':') + 1));
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = "GET /_control/" + query + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    (void)!write(fd, request.data(), request.size());
    char block[4096];
    for (ssize_t got; (got = read(fd, block, sizeof block)) > 0;) answer.append(block, static_cast<std::size_t>(got));
  }
  // cppcheck-suppress mismatchAllocDealloc ; a socket is closed with close
  close(fd);
  const std::size_t body = answer.find("\r\n\r\n");
  return body == std::string::npos ? std::string() : answer.substr(body + 4);
}

}  // namespace marlix_test

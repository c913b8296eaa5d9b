// marlix-test-server: the postcode service on this machine, for the tests and
// the demo. Serves a folder as /zipcode/search/, signs what it serves when
// given the publisher's key, and, on request, answers a file badly: with an
// error status, a body cut short, late, or without end.
#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "signing.h"

namespace {

constexpr char kUsage[] =
    "Usage: marlix-test-server --root DIR [--port N] [--host ADDR] [--fault NAME:FAULTS]...\n"
    "                          [--sign-key PEM] [--lifetime SECONDS] [--stop-on-stdin-eof]\n"
    "\n"
    "Serves the files of DIR as http://ADDR:PORT/zipcode/search/NAME and prints the\n"
    "base address (http://ADDR:PORT) as its first line on stdout once it listens.\n"
    "Files are read anew for every request, so a test may change them at any time.\n"
    "\n"
    "  --root DIR           the folder served (required)\n"
    "  --port N             the port; 0 (default) takes a free one\n"
    "  --host ADDR          the address to listen on (default 127.0.0.1)\n"
    "  --fault NAME:FAULTS  answer the file NAME (a path under /zipcode/search/) badly;\n"
    "                       may be given once per file\n"
    "  --sign-key PEM       answer NAME.sig, for a file NAME that has no NAME.sig of\n"
    "                       its own, with NAME's signature made with this private key\n"
    "                       (as openssl dgst -sha256 -sign PEM would), as a publisher\n"
    "                       who signs every file would\n"
    "  --lifetime SECONDS   stop by itself after this long (default: never)\n"
    "  --stop-on-stdin-eof  stop when standard input closes, e.g. when the test that\n"
    "                       started it ends in any way\n"
    "\n"
    "FAULTS is a comma-separated list of:\n"
    "  status=CODE   answer with this status and a small HTML error page\n"
    "  cut=N         send the headers with the file's full length, then only the\n"
    "                first N bytes, then drop the connection (cut=0: headers only)\n"
    "  delay=MS      wait this many milliseconds before sending anything\n"
    "  redirect=NAME answer with a redirect (302) to /zipcode/search/NAME\n"
    "  endless=1     send the file and then bytes without end (chunked, no length),\n"
    "                at about 4 MB/s\n"
    "Example: --fault postcode.txt:cut=4096  --fault postver.txt:status=404,delay=500\n"
    "\n"
    "Faults can also be changed while the server runs:\n"
    "  GET /_control/fault?name=NAME&status=..&cut=..&delay=..&redirect=..&endless=..\n"
    "      sets the fault of NAME (no fault keys: NAME is served normally again)\n"
    "  GET /_control/clear\n"
    "      serves every file normally again\n"
    "  GET /_control/signature?name=NAME&key=served|other\n"
    "      answers with the signature of NAME made with the --sign-key (served) or\n"
    "      with a key the server made at its start, which nobody trusts (other)\n"
    "\n"
    "SIGINT and SIGTERM stop it.\n";

struct Fault {
  int status = 0;
  long long cut = -1;
  int delay_ms = 0;
  std::string redirect;
  bool endless = false;
  bool empty() const { return status == 0 && cut < 0 && delay_ms == 0 && redirect.empty() && !endless; }
};

std::mutex g_faults_mutex;
std::map<std::string, Fault> g_faults;
std::atomic<bool> g_stopping{false};
// The publisher's key, when given, and one nobody trusts.
std::optional<marlix::signing::PrivateKey> g_served_key;
std::optional<marlix::signing::PrivateKey> g_other_key;

bool ParseNumber(const std::string& text, long long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtoll(text.c_str(), &end, 10);
  return *end == '\0' && value >= 0;
}

// Sets one key of a fault; false for an unknown key or a bad value.
bool SetFaultKey(Fault& fault, const std::string& key, const std::string& value) {
  long long number = 0;
  if (key == "redirect") {
    fault.redirect = value;
    return !value.empty();
  }
  if (!ParseNumber(value, number)) return false;
  if (key == "status" && number >= 100 && number <= 599) {
    fault.status = static_cast<int>(number);
  } else if (key == "cut") {
    fault.cut = number;
  } else if (key == "delay") {
    fault.delay_ms = static_cast<int>(number);
  } else if (key == "endless") {
    fault.endless = number != 0;
  } else {
    return false;
  }
  return true;
}

std::optional<Fault> ParseFaultList(const std::string& list) {
  Fault fault;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    const std::string item = list.substr(start, end - start);
    const std::size_t eq = item.find('=');
    if (eq == std::string::npos || !SetFaultKey(fault, item.substr(0, eq), item.substr(eq + 1))) {
      return std::nullopt;
    }
    start = end + 1;
  }
  return fault;
}

Fault FaultFor(const std::string& name) {
  std::lock_guard<std::mutex> lock(g_faults_mutex);
  auto it = g_faults.find(name);
  return it != g_faults.end() ? it->second : Fault{};
}

// A name may not leave the served folder.
bool SafeName(const std::string& name) {
  if (name.empty() || name.front() == '/' || name.find('\\') != std::string::npos) return false;
  for (const std::filesystem::path& part : std::filesystem::path(name)) {
    if (part == ".." || part == ".") return false;
  }
  return true;
}

void ErrorPage(httplib::Response& res, int status) {
  const std::string code = std::to_string(status);
  res.status = status;
  res.set_content("<html><head><title>" + code + "</title></head><body><h1>" + code +
                      "</h1><p>The requested file is not available.</p></body></html>\n",
                  "text/html");
}

// An endless body comes in 64 KB pieces, one every this many milliseconds
// (4 MB/s). Over loopback a sender without a pause outruns the reader, and
// Wine's WinInet, which reads what is left of an answer when its request is
// closed, then never stops reading.
constexpr int kEndlessChunkMs = 16;

void Sleep(int milliseconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!g_stopping && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// The file NAME.sig signs; empty for a name that is no signature's.
std::string SignedName(const std::string& name) {
  constexpr std::string_view kSuffix = ".sig";
  if (name.size() <= kSuffix.size() || name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
    return {};
  }
  return name.substr(0, name.size() - kSuffix.size());
}

void ServeFile(const std::filesystem::path& root, const std::string& name, httplib::Response& res) {
  const Fault fault = FaultFor(name);
  if (fault.delay_ms > 0) Sleep(fault.delay_ms);
  if (!fault.redirect.empty()) {
    res.set_redirect("/zipcode/search/" + fault.redirect);
    return;
  }
  if (fault.status != 0) return ErrorPage(res, fault.status);
  const std::filesystem::path path = root / name;
  std::error_code error;
  if (!SafeName(name)) return ErrorPage(res, 404);
  if (!std::filesystem::is_regular_file(path, error)) {
    const std::string signed_name = SignedName(name);
    if (!g_served_key || signed_name.empty() || !std::filesystem::is_regular_file(root / signed_name, error)) {
      return ErrorPage(res, 404);
    }
    const std::optional<std::string> der = g_served_key->SignFile(root / signed_name);
    if (!der) return ErrorPage(res, 500);
    res.set_content(*der, "application/octet-stream");
    return;
  }
  auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
  const auto size = static_cast<std::size_t>(std::filesystem::file_size(path, error));
  if (!*file || error) return ErrorPage(res, 403);
  const long long cut = fault.cut;
  if (fault.endless) {
    res.set_chunked_content_provider("application/octet-stream", [file, size](std::size_t offset,
                                                                               httplib::DataSink& sink) {
      char buffer[64 * 1024];
      std::size_t chunk = sizeof buffer;
      if (offset < size) {
        chunk = std::min(chunk, size - offset);
        file->seekg(static_cast<std::streamoff>(offset));
        if (!file->read(buffer, static_cast<std::streamsize>(chunk))) return false;
      } else {
        std::memset(buffer, 'Z', chunk);
        // At the pace of a fast network link, not of this machine's memory.
        std::this_thread::sleep_for(std::chrono::milliseconds(kEndlessChunkMs));
      }
      return !g_stopping && sink.write(buffer, chunk);
    });
    return;
  }
  if (size == 0) {  // a provider of no bytes would send no length at all
    res.set_content("", "application/octet-stream");
    return;
  }
  res.set_content_provider(size, "application/octet-stream",
                           [file, cut](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                             if (cut >= 0 && offset >= static_cast<std::size_t>(cut)) return false;
                             std::size_t chunk = std::min<std::size_t>(length, 64 * 1024);
                             if (cut >= 0) chunk = std::min<std::size_t>(chunk, cut - offset);
                             char buffer[64 * 1024];
                             file->seekg(static_cast<std::streamoff>(offset));
                             if (!file->read(buffer, static_cast<std::streamsize>(chunk))) return false;
                             return sink.write(buffer, chunk);
                           });
}

// The signature of a served file, made with one of the two keys.
void Signature(const std::filesystem::path& root, const httplib::Request& req, httplib::Response& res) {
  const std::string name = req.get_param_value("name");
  const std::string key = req.get_param_value("key");
  const std::optional<marlix::signing::PrivateKey>& signer = key == "other" ? g_other_key : g_served_key;
  std::error_code error;
  std::optional<std::string> der;
  if (signer && SafeName(name) && std::filesystem::is_regular_file(root / name, error)) {
    der = signer->SignFile(root / name);
  }
  if (!der) {
    res.status = 400;
    res.set_content("no such file, or no such key (key=served needs --sign-key)\n", "text/plain");
    return;
  }
  res.set_content(*der, "application/octet-stream");
}

void Control(const httplib::Request& req, httplib::Response& res) {
  if (req.matches[1] == "clear") {
    std::lock_guard<std::mutex> lock(g_faults_mutex);
    g_faults.clear();
    res.set_content("cleared\n", "text/plain");
    return;
  }
  const std::string name = req.get_param_value("name");
  if (req.matches[1] != "fault" || name.empty()) {
    res.status = 400;
    res.set_content("use /_control/fault?name=NAME&... or /_control/clear\n", "text/plain");
    return;
  }
  Fault fault;
  for (const char* key : {"status", "cut", "delay", "redirect", "endless"}) {
    if (req.has_param(key) && !SetFaultKey(fault, key, req.get_param_value(key))) {
      res.status = 400;
      res.set_content(std::string("bad value for ") + key + "\n", "text/plain");
      return;
    }
  }
  std::lock_guard<std::mutex> lock(g_faults_mutex);
  if (fault.empty()) {
    g_faults.erase(name);
  } else {
    g_faults[name] = fault;
  }
  res.set_content("ok\n", "text/plain");
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "marlix-test-server: %s\n\n%s", message.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string root;
  std::string host = "127.0.0.1";
  long long port = 0;
  long long lifetime = 0;
  bool stop_on_stdin_eof = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string text;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--stop-on-stdin-eof") {
      stop_on_stdin_eof = true;
    } else if (arg == "--root") {
      if (!value(root)) return UsageError("--root needs a folder");
    } else if (arg == "--sign-key") {
      if (!value(text)) return UsageError("--sign-key needs a PEM file");
      std::string why;
      g_served_key = marlix::signing::PrivateKey::Load(text, why);
      if (!g_served_key) return UsageError(why);
    } else if (arg == "--host") {
      if (!value(host)) return UsageError("--host needs an address");
    } else if (arg == "--port") {
      if (!value(text) || !ParseNumber(text, port) || port > 65535) return UsageError("bad --port");
    } else if (arg == "--lifetime") {
      if (!value(text) || !ParseNumber(text, lifetime)) return UsageError("bad --lifetime");
    } else if (arg == "--fault") {
      if (!value(text)) return UsageError("--fault needs NAME:FAULTS");
      const std::size_t colon = text.rfind(':');
      std::optional<Fault> fault;
      if (colon != std::string::npos) fault = ParseFaultList(text.substr(colon + 1));
      if (!fault) return UsageError("bad --fault '" + text + "'");
      g_faults[text.substr(0, colon)] = *fault;
    } else {
      return UsageError("unknown argument '" + arg + "'");
    }
  }
  if (root.empty()) return UsageError("--root is required");
  g_other_key = marlix::signing::PrivateKey::Generate();
  if (!std::filesystem::is_directory(root)) return UsageError("no such folder: " + root);

  // Signals are taken by one thread, so a handler never runs inside the server.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  httplib::Server server;
  const std::filesystem::path folder = std::filesystem::absolute(root);
  server.Get(R"(/zipcode/search/(.+))", [folder](const httplib::Request& req, httplib::Response& res) {
    ServeFile(folder, req.matches[1], res);
  });
  server.Get("/_control/signature", [folder](const httplib::Request& req, httplib::Response& res) {
    Signature(folder, req, res);
  });
  server.Get(R"(/_control/(\w+))", Control);

  const int bound = port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, static_cast<int>(port))
                                                                      ? static_cast<int>(port)
                                                                      : -1);
  if (bound <= 0) {
    std::fprintf(stderr, "marlix-test-server: cannot listen on %s port %lld\n", host.c_str(), port);
    return 1;
  }

  // A stop asked for before the server has begun to listen would be lost,
  // so it is asked again until the server has ended.
  static std::atomic<bool> ended{false};
  auto stop = [&server] {
    g_stopping = true;
    while (!ended) {
      server.stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  };
  std::thread signal_thread([&signals, stop] {
    int received = 0;
    sigwait(&signals, &received);
    stop();
  });
  signal_thread.detach();
  if (stop_on_stdin_eof) {
    std::thread([stop] {
      char byte;
      while (read(STDIN_FILENO, &byte, 1) > 0) {
      }
      stop();
    }).detach();
  }
  if (lifetime > 0) {
    std::thread([stop, lifetime] {
      Sleep(static_cast<int>(lifetime * 1000));
      stop();
    }).detach();
  }

  std::printf("http://%s:%d\n", host.c_str(), bound);
  std::fflush(stdout);
  const bool ok = server.listen_after_bind();
  ended = true;
  std::fflush(stdout);
  // Threads that asked for the stop may still hold the server: end here.
  std::_Exit(ok || g_stopping ? 0 : 1);
}

// marlix-test-server: the postcode service on this machine, for the tests and
// the demo. Serves a folder as /zipcode/search/, signs what it serves when
// given the publisher's key, and, on request, answers a file badly: with an
// error status, a body cut short, late, or without end.
#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "signature.h"
#include "signing.h"

namespace {

constexpr char kUsage[] =
    "Usage: marlix-test-server --root DIR [--port N] [--host ADDR] [--fault NAME:FAULTS]...\n"
    "                          [--sign-key PEM] [--lifetime SECONDS] [--stop-on-stdin-eof]\n"
    "\n"
    "Serves the files of DIR as http://ADDR:PORT/zipcode/search/NAME and prints the\n"
    "base address (http://ADDR:PORT) as its first line on stdout once it listens.\n"
    "Files are read anew for every request, so a test may change them at any time.\n"
    "A request with Range: bytes=N- or bytes=N-M (or bytes=-N, the last N bytes) is\n"
    "answered with that part of the file: 206 and Content-Range: bytes N-M/SIZE; a\n"
    "start at or past the end is answered 416 with Content-Range: bytes */SIZE.\n"
    "Several ranges are ignored (200, the whole file); a malformed one (M before N)\n"
    "is answered 416 by the HTTP library.\n"
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
    "  cut=N         send the headers with the body's full length, then only the\n"
    "                first N bytes of the body, then drop the connection (cut=0:\n"
    "                headers only); in a 206 answer, N counts from the range's start\n"
    "  delay=MS      wait this many milliseconds before sending anything\n"
    "  redirect=NAME answer with a redirect (302) to /zipcode/search/NAME\n"
    "  endless=1     send the file and then bytes without end (chunked, no length),\n"
    "                at about 4 MB/s; asked for a range, from its start (206)\n"
    "  rate=BYTES    send the body at about BYTES a second, as a slow link would\n"
    "  norange=1     ignore Range: answer 200 with the whole file, as a server that\n"
    "                cannot send parts does\n"
    "  partfrom=N    answer Range with the part from byte N instead (206, its\n"
    "                Content-Range and bytes from N), as a broken cache might\n"
    "  parttotal=N   name N as the file's length in a 206's Content-Range\n"
    "Example: --fault postcode.txt:cut=4096  --fault postver.txt:status=404,delay=500\n"
    "\n"
    "Faults can also be changed while the server runs:\n"
    "  GET /_control/fault?name=NAME&status=..&cut=..&delay=..&redirect=..&endless=..\n"
    "                       &norange=..&rate=..&partfrom=..&parttotal=..\n"
    "      sets the fault of NAME (no fault keys: NAME is served normally again)\n"
    "  GET /_control/clear\n"
    "      serves every file normally again\n"
    "  GET /_control/signature?name=NAME&key=served|other\n"
    "      answers with the signature of NAME made with the --sign-key (served) or\n"
    "      with a key the server made at its start, which nobody trusts (other)\n"
    "\n"
    "What the server sent, for benchmarks and tests:\n"
    "  GET /_control/sent\n"
    "      the body bytes sent for each served NAME (files and signatures, not error\n"
    "      pages) since the start or the last reset, one line 'NAME BYTES' each in\n"
    "      the order of the names, then a line 'total BYTES'\n"
    "  GET /_control/sent?reset=1\n"
    "      the same, and the counts start again from 0\n"
    "\n"
    "SIGINT and SIGTERM stop it.\n";

struct Fault {
  int status = 0;
  long long cut = -1;
  int delay_ms = 0;
  std::string redirect;
  bool endless = false;
  bool norange = false;
  long long rate = 0;         // body bytes a second; 0: as fast as it goes
  long long part_from = -1;   // a 206 of the part from this byte, whatever was asked
  long long part_total = -1;  // the length a 206 names
  bool empty() const {
    return status == 0 && cut < 0 && delay_ms == 0 && redirect.empty() && !endless && !norange && rate == 0 &&
           part_from < 0 && part_total < 0;
  }
};

std::mutex g_faults_mutex;
std::map<std::string, Fault> g_faults;
// Body bytes sent for each served name since the start or the last reset.
std::mutex g_sent_mutex;
std::map<std::string, std::uint64_t> g_sent;
std::atomic<bool> g_stopping{false};
// The publisher's key, when given, and one nobody trusts.
std::optional<marlix::signing::Key> g_served_key;
std::optional<marlix::signing::Key> g_other_key;

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
  } else if (key == "norange") {
    fault.norange = number != 0;
  } else if (key == "rate") {
    fault.rate = number;
  } else if (key == "partfrom") {
    fault.part_from = number;
  } else if (key == "parttotal") {
    fault.part_total = number;
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
  constexpr std::string_view kSuffix = marlix::signature::kSuffix;
  if (name.size() <= kSuffix.size() || name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
    return {};
  }
  return name.substr(0, name.size() - kSuffix.size());
}

// Counted before the bytes go, so that a client that has them finds them
// counted; taken back when the write fails.
void CountSent(const std::string& name, std::size_t bytes) {
  std::lock_guard<std::mutex> lock(g_sent_mutex);
  g_sent[name] += bytes;
}

void UncountSent(const std::string& name, std::size_t bytes) {
  std::lock_guard<std::mutex> lock(g_sent_mutex);
  auto it = g_sent.find(name);
  if (it != g_sent.end()) it->second -= std::min<std::uint64_t>(it->second, bytes);
}

// Writes a piece of a body, counted for `name`.
bool WriteCounted(httplib::DataSink& sink, const std::string& name, const char* data, std::size_t size) {
  CountSent(name, size);
  if (sink.write(data, size)) return true;
  UncountSent(name, size);
  return false;
}

// What a request's Range asks of a body of `size` bytes.
struct RangeAsked {
  enum Kind { kWhole, kPart, kUnsatisfiable } kind = kWhole;
  std::uint64_t first = 0;
  std::uint64_t last = 0;  // inclusive
};

bool ReadUnsigned(const std::string& text, std::uint64_t& value) {
  if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::stoull(text);
  return true;
}

// One range of bytes=N-, bytes=N-M or bytes=-N; anything else is ignored
// (the whole body), as RFC 9110 lets a server do.
RangeAsked ParseRange(const std::string& header, std::uint64_t size) {
  RangeAsked asked;
  constexpr std::string_view kUnit = "bytes=";
  if (header.compare(0, kUnit.size(), kUnit) != 0) return asked;
  const std::string asked_text = header.substr(kUnit.size());
  const std::size_t dash = asked_text.find('-');
  if (dash == std::string::npos || asked_text.find(',') != std::string::npos) return asked;
  const std::string first_text = asked_text.substr(0, dash);
  const std::string last_text = asked_text.substr(dash + 1);
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  if (first_text.empty()) {  // the last N bytes
    if (!ReadUnsigned(last_text, last)) return asked;
    if (last == 0 || size == 0) {
      asked.kind = RangeAsked::kUnsatisfiable;
      return asked;
    }
    asked.kind = RangeAsked::kPart;
    asked.first = size - std::min(last, size);
    asked.last = size - 1;
    return asked;
  }
  if (!ReadUnsigned(first_text, first)) return asked;
  if (last_text.empty()) {
    last = UINT64_MAX;
  } else if (!ReadUnsigned(last_text, last) || last < first) {
    return asked;
  }
  if (first >= size) {
    asked.kind = RangeAsked::kUnsatisfiable;
    return asked;
  }
  asked.kind = RangeAsked::kPart;
  asked.first = first;
  asked.last = std::min(last, size - 1);
  return asked;
}

// Reads `length` bytes of a body at `offset`; false when it cannot.
using BodyReader = std::function<bool(std::uint64_t offset, char* buffer, std::size_t length)>;

// Answers with a body of `size` bytes, or the part of it the request's Range
// asks for, faults applied; every byte sent is counted for `name`.
void SendBody(const httplib::Request& req, httplib::Response& res, const std::string& name, const Fault& fault,
              std::uint64_t size, const std::string& content_type, BodyReader read) {
  RangeAsked asked;
  if (!fault.norange && req.has_header("Range")) asked = ParseRange(req.get_header_value("Range"), size);
  if (asked.kind == RangeAsked::kUnsatisfiable) {
    res.set_header("Content-Range", "bytes */" + std::to_string(size));
    return ErrorPage(res, 416);
  }
  if (asked.kind == RangeAsked::kPart && fault.part_from >= 0) {
    asked.first = std::min<std::uint64_t>(static_cast<std::uint64_t>(fault.part_from), asked.last);
  }
  const std::uint64_t first = asked.kind == RangeAsked::kPart ? asked.first : 0;
  const std::uint64_t length = asked.kind == RangeAsked::kPart ? asked.last - asked.first + 1 : size;
  if (asked.kind == RangeAsked::kPart) {
    res.status = 206;
    const std::uint64_t total = fault.part_total >= 0 ? static_cast<std::uint64_t>(fault.part_total) : size;
    res.set_header("Content-Range",
                   "bytes " + std::to_string(first) + "-" + std::to_string(asked.last) + "/" + std::to_string(total));
  }
  if (fault.endless) {
    // The body from `first` to the end of the file, then bytes without end.
    res.set_chunked_content_provider(content_type,
                                     [name, first, size, read](std::size_t offset, httplib::DataSink& sink) {
                                       char buffer[64 * 1024];
                                       std::size_t chunk = sizeof buffer;
                                       const std::uint64_t at = first + offset;
                                       if (at < size) {
                                         chunk = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, size - at));
                                         if (!read(at, buffer, chunk)) return false;
                                       } else {
                                         std::memset(buffer, 'Z', chunk);
                                         // At the pace of a fast network link, not of this machine's memory.
                                         std::this_thread::sleep_for(std::chrono::milliseconds(kEndlessChunkMs));
                                       }
                                       return !g_stopping && WriteCounted(sink, name, buffer, chunk);
                                     });
    return;
  }
  if (length == 0) {  // a provider of no bytes would send no length at all
    res.set_content("", content_type);
    return;
  }
  const long long cut = fault.cut;
  const long long rate = fault.rate;
  res.set_content_provider(
      static_cast<std::size_t>(length), content_type,
      [name, first, cut, rate, read](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        // `offset` counts from the start of this answer's body.
        if (cut >= 0 && offset >= static_cast<std::size_t>(cut)) return false;
        std::size_t chunk = std::min<std::size_t>(length, 64 * 1024);
        if (cut >= 0) chunk = std::min<std::size_t>(chunk, cut - offset);
        if (rate > 0) {
          // A tenth of a second's bytes at a time, each after its share of the time.
          chunk = std::min<std::size_t>(chunk, std::max<long long>(rate / 10, 1));
          std::this_thread::sleep_for(std::chrono::microseconds(chunk * 1000000 / rate));
          if (g_stopping) return false;
        }
        char buffer[64 * 1024];
        return read(first + offset, buffer, chunk) && WriteCounted(sink, name, buffer, chunk);
      });
}

void ServeFile(const std::filesystem::path& root, const std::string& name, const httplib::Request& req,
               httplib::Response& res) {
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
    auto body = std::make_shared<std::string>(*der);
    SendBody(req, res, name, fault, body->size(), "application/octet-stream",
             [body](std::uint64_t offset, char* buffer, std::size_t length) {
               if (offset + length > body->size()) return false;
               std::memcpy(buffer, body->data() + offset, length);
               return true;
             });
    return;
  }
  auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
  const std::uint64_t size = std::filesystem::file_size(path, error);
  if (!*file || error) return ErrorPage(res, 403);
  SendBody(req, res, name, fault, size, "application/octet-stream",
           [file](std::uint64_t offset, char* buffer, std::size_t length) {
             file->clear();
             file->seekg(static_cast<std::streamoff>(offset));
             return static_cast<bool>(file->read(buffer, static_cast<std::streamsize>(length)));
           });
}

// The signature of a served file, made with one of the two keys.
void Signature(const std::filesystem::path& root, const httplib::Request& req, httplib::Response& res) {
  const std::string name = req.get_param_value("name");
  const std::string key = req.get_param_value("key");
  const std::optional<marlix::signing::Key>& signer = key == "other" ? g_other_key : g_served_key;
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

// The body bytes sent for each name, and their total; reset=1 starts again.
void Sent(const httplib::Request& req, httplib::Response& res) {
  std::map<std::string, std::uint64_t> sent;
  {
    std::lock_guard<std::mutex> lock(g_sent_mutex);
    sent = g_sent;
    if (req.get_param_value("reset") == "1") g_sent.clear();
  }
  std::string text;
  std::uint64_t total = 0;
  for (const auto& [name, bytes] : sent) {
    text += name + " " + std::to_string(bytes) + "\n";
    total += bytes;
  }
  text += "total " + std::to_string(total) + "\n";
  res.set_content(text, "text/plain");
}

void Control(const httplib::Request& req, httplib::Response& res) {
  if (req.matches[1] == "sent") return Sent(req, res);
  if (req.matches[1] == "clear") {
    std::lock_guard<std::mutex> lock(g_faults_mutex);
    g_faults.clear();
    res.set_content("cleared\n", "text/plain");
    return;
  }
  const std::string name = req.get_param_value("name");
  if (req.matches[1] != "fault" || name.empty()) {
    res.status = 400;
    res.set_content("use /_control/fault?name=NAME&..., /_control/clear or /_control/sent\n", "text/plain");
    return;
  }
  Fault fault;
  for (const char* key :
       {"status", "cut", "delay", "redirect", "endless", "norange", "rate", "partfrom", "parttotal"}) {
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
      g_served_key = marlix::signing::Key::LoadPrivate(text, why);
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
  std::string why;
  g_other_key = marlix::signing::Key::Generate(why);
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
    // Ranges are answered here (ServeFile), with the faults, not by httplib,
    // which would also cut error pages and a norange answer to the range.
    // The request is the server's own, not const: clearing is allowed.
    const_cast<httplib::Request&>(req).ranges.clear();
    ServeFile(folder, req.matches[1], req, res);
  });
  server.Get("/_control/signature",
             [folder](const httplib::Request& req, httplib::Response& res) { Signature(folder, req, res); });
  server.Get(R"(/_control/(\w+))", Control);

  const int bound = port == 0 ? server.bind_to_any_port(host)
                              : (server.bind_to_port(host, static_cast<int>(port)) ? static_cast<int>(port) : -1);
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

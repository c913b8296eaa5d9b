// Internet access for every download of both programs: a session, a URL opened
// as a file, line and block reads, the HTTP status. One interface; the backend
// (WinInet on Windows, libcurl elsewhere) is chosen by the build and speaks
// its own flags and error numbers only inside itself.
//
// Every request is answered by the server itself, never from a cache on the
// way: a file and its signature must be of one edition. A failure of any
// step, session creation included, throws CInternetException.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

// Time-outs of a new session for connecting and for waiting on data: short
// enough that an unreachable server cannot hold the start-up for long.
inline constexpr unsigned kInternetDefaultTimeoutMs = 10000;

namespace marlix::internet {

// What kept a request from its answer, as far as a caller or a log may care.
enum class Failure {
  kTimeout,         // no connection or no data within the time-out
  kCannotConnect,   // refused, unreachable, an unknown name, or no secure channel
  kConnectionLost,  // the connection ended before the whole answer
  kBadAddress,      // not an http or https address, or one that cannot be read
  kWrongPart,       // a part (206) that is not the one asked for, or cannot be read
  kOther,           // anything else, redirects without end among them
};

}  // namespace marlix::internet

class CInternetException : public std::runtime_error {
 public:
  CInternetException(marlix::internet::Failure failure, const std::string& message)
      : std::runtime_error(message), failure_(failure) {}

  marlix::internet::Failure failure() const { return failure_; }

 private:
  marlix::internet::Failure failure_;
};

namespace marlix::internet {

// The slowest a transfer may go: fewer than `bytes` arriving in `ms` gives
// up, so that a server sending a byte now and then cannot hold a client,
// whose receive time-out starts again at every byte. Tests make it quicker
// with MARLIX_RATE_FLOOR=BYTES/MS.
struct RateFloor {
  std::uint64_t bytes = 1024;
  unsigned ms = 30000;
};
RateFloor TransferRateFloor();

// The most a small file (a manifest, a signature, a version file) may take
// in all, the connect included: 30 s, or MARLIX_SMALL_FILE_DEADLINE_MS.
unsigned SmallFileDeadlineMs();

// Watches one answer: the bytes that arrive against the rate floor, and the
// time against its deadline. Either broken throws CInternetException
// (Failure::kTimeout).
class TransferWatch {
 public:
  // Starts now; `deadline_ms` 0 is none.
  TransferWatch(unsigned deadline_ms, std::string url);
  // Bytes that arrived (0 while waiting for them).
  void Arrived(std::size_t bytes);
  // What is left of the deadline; kNoDeadline without one.
  unsigned MsLeft() const;
  static constexpr unsigned kNoDeadline = ~0u;

 private:
  using Clock = std::chrono::steady_clock;
  std::string url_;
  RateFloor floor_;
  std::optional<Clock::time_point> deadline_;
  Clock::time_point window_start_;
  std::uint64_t window_bytes_ = 0;
};

// What a backend offers for one opened URL; CInternetFile buffers on top of
// it and tells the watch what arrives.
class Stream {
 public:
  explicit Stream(TransferWatch watch) : watch_(std::move(watch)) {}
  virtual ~Stream() = default;
  // Up to `size` bytes; 0 only at the end of the body. Throws on failure.
  virtual std::size_t ReadSome(char* buffer, std::size_t size) = 0;
  virtual unsigned long StatusCode() const = 0;
  // The byte of the file at which the body begins, and the whole file's
  // length (0 when the answer does not say it); see CInternetFile.
  virtual std::uint64_t BodyOffset() const { return 0; }
  virtual std::uint64_t TotalLength() const { return 0; }
  virtual void Close() = 0;
  TransferWatch& Watch() { return watch_; }

 private:
  TransferWatch watch_;
};

// The address when it is an http or https one; throws otherwise.
std::string HttpAddress(const std::string& url);

// Which part of the file an answer carries, as its headers say.
struct BodyRange {
  std::uint64_t offset = 0;  // the byte of the file at which the body begins
  std::uint64_t total = 0;   // the whole file's length; 0 when not said
};

// The part of the file in an answer to a request for the file from byte
// `from` on, from the answer's status and its Content-Range and
// Content-Length values (empty when absent), as every backend reads them:
//   206: Content-Range "bytes FIRST-LAST/TOTAL" (TOTAL may be *); FIRST must
//        be `from`, else, or when it cannot be read, CInternetException
//        (Failure::kWrongPart) is thrown: the caller then starts afresh;
//   200: the whole file from byte 0, TOTAL the Content-Length;
//   416: offset 0, TOTAL from Content-Range "bytes */TOTAL" when given;
//   any other status: offset 0, total 0.
BodyRange RangeOfAnswer(unsigned long status, const std::string& content_range, const std::string& content_length,
                        std::uint64_t from, const std::string& url);

}  // namespace marlix::internet

// A remote file opened by CInternetSession::OpenURL. It belongs to the caller.
class CInternetFile {
 public:
  CInternetFile(std::unique_ptr<marlix::internet::Stream> stream, std::string url);
  virtual ~CInternetFile();
  CInternetFile(const CInternetFile&) = delete;
  CInternetFile& operator=(const CInternetFile&) = delete;

  // Sets how much is read ahead from the network for line reads.
  bool SetReadBufferSize(unsigned size);
  // The next line without its line feed and with every CR dropped; false when
  // no data is left.
  bool ReadString(std::string& line);
  // Up to `count` bytes; fewer only at the end of the data.
  unsigned Read(void* buffer, unsigned count);
  // A second Close does nothing; reads after Close find the end.
  void Close();
  const std::string& GetFileURL() const { return url_; }
  // The byte of the file at which this body begins: FROM when OpenURL(url,
  // FROM) was answered with that part (206), 0 when with the whole file.
  std::uint64_t BodyOffset() const { return offset_; }
  // The whole file's length when the answer says it (the total of a
  // Content-Range, the Content-Length of a 200), else 0.
  std::uint64_t TotalLength() const { return total_; }
  // The status code of the final answer (after redirects); 0 once closed.
  unsigned long StatusCode() const;

 protected:
  bool Fill();

  std::unique_ptr<marlix::internet::Stream> stream_;
  std::string url_;
  std::uint64_t offset_ = 0;
  std::uint64_t total_ = 0;
  std::string buffer_;
  std::size_t buffer_pos_ = 0;
  unsigned read_ahead_ = 4096;
};

// An http or https URL: adds the status of the answer.
class CHttpFile : public CInternetFile {
 public:
  using CInternetFile::CInternetFile;
  // The status code of the final answer (after redirects).
  bool QueryInfoStatusCode(unsigned long& status) const;
};

namespace marlix {

// The status code of an http answer; 0 for a file that has none.
inline unsigned long AnswerStatus(const CInternetFile& file) { return file.StatusCode(); }
// True when the answer is the requested file itself, or the part asked for
// (a 2xx status, 206 among them).
inline bool AnsweredWithFile(const CInternetFile& file) {
  const unsigned long status = AnswerStatus(file);
  return status >= 200 && status <= 299;
}

}  // namespace marlix

// A session with the system's own proxy settings; `agent` names the program
// to the server.
class CInternetSession {
 public:
  explicit CInternetSession(const std::string& agent);
  ~CInternetSession();
  CInternetSession(const CInternetSession&) = delete;
  CInternetSession& operator=(const CInternetSession&) = delete;

  // Connect and receive time-outs for the URLs opened from now on.
  void SetTimeouts(unsigned connect_ms, unsigned receive_ms);

  // Sends a GET and returns the file once the answer's headers have arrived,
  // whatever its status; redirects are followed. Throws CInternetException.
  // With `from` > 0 the request asks for the file from that byte on (Range:
  // bytes=FROM-); the file's BodyOffset() tells whether the server answered
  // with that part or with the whole file, and a part that begins elsewhere
  // throws (Failure::kWrongPart). Every answer keeps to the rate floor; one
  // with `deadline_ms` (SmallFileDeadlineMs) must also be whole within it.
  std::unique_ptr<CInternetFile> OpenURL(const std::string& url, std::uint64_t from = 0, unsigned deadline_ms = 0);

  void Close();

 private:
  struct Backend;
  std::unique_ptr<Backend> backend_;
};

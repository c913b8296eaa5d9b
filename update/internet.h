// Internet access for every download of both programs: a session, a URL opened
// as a file, line and block reads, the HTTP status. One interface; the backend
// (WinInet on Windows, libcurl elsewhere) is chosen by the build and speaks
// its own flags and error numbers only inside itself.
//
// Every request is answered by the server itself, never from a cache on the
// way: a file and its signature must be of one edition. A failure of any
// step, session creation included, throws CInternetException.
#pragma once

#include <cstddef>
#include <memory>
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

// What a backend offers for one opened URL; CInternetFile buffers on top of it.
class Stream {
 public:
  virtual ~Stream() = default;
  // Up to `size` bytes; 0 only at the end of the body. Throws on failure.
  virtual std::size_t ReadSome(char* buffer, std::size_t size) = 0;
  virtual unsigned long StatusCode() const = 0;
  virtual void Close() = 0;
};

// The address when it is an http or https one; throws otherwise.
std::string HttpAddress(const std::string& url);

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

 protected:
  bool Fill();

  std::unique_ptr<marlix::internet::Stream> stream_;
  std::string url_;
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
unsigned long AnswerStatus(const CInternetFile& file);
// True when the answer is the requested file itself (a 2xx status).
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
  std::unique_ptr<CInternetFile> OpenURL(const std::string& url);

  void Close();

 private:
  struct Backend;
  std::unique_ptr<Backend> backend_;
};

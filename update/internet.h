// Internet access for every download of both programs: a session, a URL opened
// as a file, line and block reads, the HTTP status. One interface; the backend
// (WinInet on Windows, libcurl elsewhere) is chosen by the build.
//
// A failure of any step, session creation included, throws CInternetException.
// Flag values and error numbers are WinInet's, so callers speak one vocabulary
// whichever backend runs beneath them.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

// Access types of a session.
inline constexpr unsigned long kInternetAccessPreconfig = 0;  // the system's proxy settings
inline constexpr unsigned long kInternetAccessDirect = 1;
inline constexpr unsigned long kInternetAccessProxy = 3;

// Flags of a session and of OpenURL.
inline constexpr unsigned long kInternetFlagTransferAscii = 0x00000001;
inline constexpr unsigned long kInternetFlagTransferBinary = 0x00000002;
inline constexpr unsigned long kInternetFlagSecure = 0x00800000;
inline constexpr unsigned long kInternetFlagNoCacheWrite = 0x04000000;
inline constexpr unsigned long kInternetFlagReload = 0x80000000;

// Error numbers carried by CInternetException.
inline constexpr unsigned long kInternetErrorTimeout = 12002;
inline constexpr unsigned long kInternetErrorInternal = 12004;
inline constexpr unsigned long kInternetErrorInvalidUrl = 12005;
inline constexpr unsigned long kInternetErrorUnrecognizedScheme = 12006;
inline constexpr unsigned long kInternetErrorNameNotResolved = 12007;
inline constexpr unsigned long kInternetErrorCannotConnect = 12029;
inline constexpr unsigned long kInternetErrorConnectionReset = 12031;
inline constexpr unsigned long kInternetErrorRedirectFailed = 12156;
inline constexpr unsigned long kInternetErrorSecureFailure = 12175;

// Time-outs of a new session for connecting and for waiting on data: short
// enough that an unreachable server cannot hold the start-up for long.
inline constexpr unsigned kInternetDefaultTimeoutMs = 10000;

class CInternetException : public std::runtime_error {
 public:
  CInternetException(unsigned long error, const std::string& message, unsigned long context = 1)
      : std::runtime_error(message), m_dwError(error), m_dwContext(context) {}

  unsigned long m_dwError;
  unsigned long m_dwContext;
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

// The address as a string when it is an http or https one; throws otherwise.
std::string HttpAddress(const char* url, unsigned long context);

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

class CInternetSession {
 public:
  explicit CInternetSession(const char* agent = nullptr, unsigned long context = 1,
                            unsigned long access_type = kInternetAccessPreconfig,
                            const char* proxy_name = nullptr, const char* proxy_bypass = nullptr,
                            unsigned long flags = 0);
  ~CInternetSession();
  CInternetSession(const CInternetSession&) = delete;
  CInternetSession& operator=(const CInternetSession&) = delete;

  // Connect and receive time-outs for the URLs opened from now on.
  void SetTimeouts(unsigned connect_ms, unsigned receive_ms);

  // Sends a GET and returns the file once the answer's headers have arrived,
  // whatever its status; redirects are followed. Throws CInternetException.
  std::unique_ptr<CInternetFile> OpenURL(const char* url, unsigned long context = 1,
                                         unsigned long flags = kInternetFlagTransferAscii,
                                         const char* headers = nullptr, unsigned long headers_length = 0);

  void Close();

 private:
  struct Backend;
  std::unique_ptr<Backend> backend_;
};

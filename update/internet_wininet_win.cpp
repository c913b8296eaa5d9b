// Internet access through WinInet, for the Windows programs.
#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "internet.h"

namespace {

// Flags that InternetOpen itself understands; the rest of a session's flags
// apply to each request it opens.
constexpr DWORD kOpenFlags = INTERNET_FLAG_OFFLINE;
constexpr DWORD kRequestFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE;

[[noreturn]] void ThrowLastError(const std::string& what, unsigned long context) {
  const DWORD error = GetLastError();
  throw CInternetException(error != 0 ? error : kInternetErrorInternal,
                           what + " failed (error " + std::to_string(error) + ")", context);
}

// Sends a request, giving up after `deadline_ms`. Wine's WinInet does not
// bound the connect by its time-out: a server that never answers it held the
// request for as long as the system retries (35 s to over a minute seen), and
// Marlix's start-up with it. The send runs on a thread of its own; given up,
// its handles are closed by the caller, which ends it, and it frees its state.
struct PendingSend {
  HINTERNET request = nullptr;
  std::string headers;
  bool with_headers = false;
  DWORD length = 0;
  BOOL sent = FALSE;
  DWORD error = 0;
  HANDLE finished = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ~PendingSend() {
    if (finished != nullptr) ::CloseHandle(finished);
  }
};

DWORD WINAPI SendOnItsOwnThread(void* parameter) {
  std::unique_ptr<std::shared_ptr<PendingSend>> held(static_cast<std::shared_ptr<PendingSend>*>(parameter));
  PendingSend& send = **held;
  send.sent = HttpSendRequestA(send.request, send.with_headers ? send.headers.c_str() : nullptr, send.length,
                               nullptr, 0);
  send.error = send.sent ? 0 : GetLastError();
  ::SetEvent(send.finished);
  return 0;
}

// True when sent; otherwise the error is set as GetLastError would give it.
bool SendWithDeadline(HINTERNET request, const char* headers, DWORD length, DWORD deadline_ms) {
  auto send = std::make_shared<PendingSend>();
  send->request = request;
  send->with_headers = headers != nullptr;
  if (headers != nullptr) {
    send->headers = length == static_cast<DWORD>(-1) ? std::string(headers) : std::string(headers, length);
  }
  send->length = length;
  auto* parameter = new std::shared_ptr<PendingSend>(send);
  HANDLE thread = send->finished != nullptr ? ::CreateThread(nullptr, 0, SendOnItsOwnThread, parameter, 0, nullptr)
                                            : nullptr;
  if (thread == nullptr) {  // no thread to spare: send here, unbounded as before
    delete parameter;
    return HttpSendRequestA(request, headers, length, nullptr, 0) != FALSE;
  }
  ::CloseHandle(thread);
  if (::WaitForSingleObject(send->finished, deadline_ms) != WAIT_OBJECT_0) {
    ::SetLastError(ERROR_INTERNET_TIMEOUT);
    return false;
  }
  ::SetLastError(send->error);
  return send->sent != FALSE;
}

class WinInetStream final : public marlix::internet::Stream {
 public:
  WinInetStream(HINTERNET connection, HINTERNET request, std::string url, unsigned long context)
      : connection_(connection), request_(request), url_(std::move(url)), context_(context) {}

  ~WinInetStream() override { Close(); }

  // Takes the status and the announced length from the answer's headers.
  void QueryAnswer() {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (HttpQueryInfoA(request_, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
      status_ = status;
    }
    char length[32] = {};
    DWORD length_size = sizeof length;
    if (HttpQueryInfoA(request_, HTTP_QUERY_CONTENT_LENGTH, length, &length_size, nullptr)) {
      char* end = nullptr;
      const unsigned long long value = std::strtoull(length, &end, 10);
      if (end != length) expected_ = static_cast<long long>(value);
    }
  }

  // WinInet reports a connection that closed before the announced length as
  // a normal end; a short body is a failure here, as it is over libcurl.
  std::size_t ReadSome(char* buffer, std::size_t size) override {
    if (request_ == nullptr) return 0;
    DWORD got = 0;
    const DWORD want = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    if (!InternetReadFile(request_, buffer, want, &got)) ThrowLastError("reading " + url_, context_);
    received_ += got;
    if (got == 0 && expected_ >= 0 && received_ < expected_) {
      throw CInternetException(kInternetErrorConnectionReset,
                               "the connection closed after " + std::to_string(received_) + " of " +
                                   std::to_string(expected_) + " bytes (" + url_ + ")",
                               context_);
    }
    return got;
  }

  unsigned long StatusCode() const override { return status_; }

  // Where a redirect sends the request; empty when the answer names no place.
  std::string Location() const {
    char location[4096] = {};
    DWORD size = sizeof location;
    if (!HttpQueryInfoA(request_, HTTP_QUERY_LOCATION, location, &size, nullptr)) return {};
    return std::string(location, size);
  }

  void Close() override {
    if (request_ != nullptr) InternetCloseHandle(request_);
    if (connection_ != nullptr) InternetCloseHandle(connection_);
    request_ = nullptr;
    connection_ = nullptr;
  }

 private:
  HINTERNET connection_;
  HINTERNET request_;
  std::string url_;
  unsigned long context_;
  unsigned long status_ = 0;
  long long expected_ = -1;
  long long received_ = 0;
};

}  // namespace

struct CInternetSession::Backend {
  HINTERNET handle = nullptr;
  DWORD request_flags = 0;
  DWORD connect_ms = kInternetDefaultTimeoutMs;
  DWORD receive_ms = kInternetDefaultTimeoutMs;
  ~Backend() {
    if (handle != nullptr) InternetCloseHandle(handle);
  }
  std::unique_ptr<WinInetStream> SendRequest(const std::string& address, unsigned long context, unsigned long flags,
                                             const char* headers, unsigned long headers_length);
};

CInternetSession::CInternetSession(const char* agent, unsigned long context, unsigned long access_type,
                                   const char* proxy_name, const char* proxy_bypass, unsigned long flags) {
  auto backend = std::make_unique<Backend>();
  backend->handle = InternetOpenA(agent, access_type, proxy_name, proxy_bypass, flags & kOpenFlags);
  if (backend->handle == nullptr) ThrowLastError("InternetOpen", context);
  backend->request_flags = flags & kRequestFlags;
  backend_ = std::move(backend);
}

CInternetSession::~CInternetSession() = default;

void CInternetSession::SetTimeouts(unsigned connect_ms, unsigned receive_ms) {
  if (!backend_) return;
  backend_->connect_ms = connect_ms;
  backend_->receive_ms = receive_ms;
}

namespace {

// As many as the libcurl backend follows. WinInet under Wine follows a
// redirect to the same address for ever, so they are followed here.
constexpr int kMaxRedirects = 10;

bool IsRedirect(unsigned long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

// Sends one GET to `address`, not following a redirect.
std::unique_ptr<WinInetStream> CInternetSession::Backend::SendRequest(const std::string& address,
                                                                      unsigned long context, unsigned long flags,
                                                                      const char* headers,
                                                                      unsigned long headers_length) {
  // The request is opened step by step, not with InternetOpenUrl, so that the
  // time-outs are set on it before it is sent: set on the session only, Wine
  // lets an answer keep it waiting for ever.
  char host[256] = {};
  char path[2048] = {};
  char extra[2048] = {};
  URL_COMPONENTSA parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof host;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = sizeof path;
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = sizeof extra;
  if (!InternetCrackUrlA(address.c_str(), 0, 0, &parts)) ThrowLastError("reading the address " + address, context);
  const std::string object = std::string(*path != '\0' ? path : "/") + extra;
  // The scheme decides on TLS; a secure flag on a plain address would only break it.
  DWORD send_flags =
      (flags | request_flags | INTERNET_FLAG_NO_AUTO_REDIRECT) & ~static_cast<DWORD>(INTERNET_FLAG_SECURE);
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) send_flags |= INTERNET_FLAG_SECURE;

  HINTERNET connection =
      InternetConnectA(handle, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, context);
  if (connection == nullptr) ThrowLastError("connecting to " + address, context);
  HINTERNET request =
      HttpOpenRequestA(connection, "GET", object.c_str(), nullptr, nullptr, nullptr, send_flags, context);
  if (request == nullptr) {
    InternetCloseHandle(connection);
    ThrowLastError("opening " + address, context);
  }
  auto stream = std::make_unique<WinInetStream>(connection, request, address, context);
  for (auto [option, value] : {std::pair<DWORD, DWORD>{INTERNET_OPTION_CONNECT_TIMEOUT, connect_ms},
                               {INTERNET_OPTION_SEND_TIMEOUT, receive_ms},
                               {INTERNET_OPTION_RECEIVE_TIMEOUT, receive_ms}}) {
    InternetSetOptionA(request, option, &value, sizeof value);
  }
  const DWORD length = headers == nullptr ? 0 : headers_length != 0 ? headers_length : static_cast<DWORD>(-1);
  // The connect and the wait for the answer, each within its time-out.
  if (!SendWithDeadline(request, headers, length, connect_ms + receive_ms)) {
    ThrowLastError("opening " + address, context);
  }
  stream->QueryAnswer();
  return stream;
}

std::unique_ptr<CInternetFile> CInternetSession::OpenURL(const char* url, unsigned long context,
                                                         unsigned long flags, const char* headers,
                                                         unsigned long headers_length) {
  if (!backend_) throw CInternetException(kInternetErrorInternal, "the session is closed", context);
  std::string address = marlix::internet::HttpAddress(url, context);
  for (int redirects = 0;; ++redirects) {
    std::unique_ptr<WinInetStream> stream = backend_->SendRequest(address, context, flags, headers, headers_length);
    const std::string location = IsRedirect(stream->StatusCode()) ? stream->Location() : std::string();
    // A redirect with nowhere to go is the answer itself.
    if (location.empty()) return std::make_unique<CHttpFile>(std::move(stream), address);
    if (redirects == kMaxRedirects) {
      throw CInternetException(kInternetErrorRedirectFailed,
                               "more than " + std::to_string(kMaxRedirects) + " redirects from " + url, context);
    }
    char next[4096] = {};
    DWORD next_size = sizeof next;
    if (!InternetCombineUrlA(address.c_str(), location.c_str(), next, &next_size, ICU_NO_ENCODE)) {
      ThrowLastError("following the redirect to " + location, context);
    }
    address = marlix::internet::HttpAddress(next, context);
  }
}

void CInternetSession::Close() { backend_.reset(); }

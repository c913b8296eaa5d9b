// Internet access through WinInet, for the Windows programs.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <iterator>
#include <memory>
#include <string>

#include "handle_win.h"
#include "internet.h"
#include "text_win.h"

namespace {

using marlix::Utf8FromWide;
using marlix::WideFromUtf8;
using marlix::internet::Failure;

using UniqueInternetHandle = UniqueHandle<NullHandleTraits<HINTERNET, &::InternetCloseHandle>>;

// Every request goes to the server, past the system's cache both ways, and
// redirects are followed here (see OpenURL).
constexpr DWORD kRequestFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_AUTO_REDIRECT;

Failure FailureOf(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_TIMEOUT:
      return Failure::kTimeout;
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
      return Failure::kCannotConnect;
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
      return Failure::kConnectionLost;
    case ERROR_INTERNET_INVALID_URL:
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME:
      return Failure::kBadAddress;
    default:
      return Failure::kOther;
  }
}

[[noreturn]] void ThrowLastError(const std::string& what) {
  const DWORD error = GetLastError();
  throw CInternetException(FailureOf(error), what + " failed (error " + std::to_string(error) + ")");
}

// Sends a request, giving up after `deadline_ms`. Wine's WinInet does not
// bound the connect by its time-out: a server that never answers it held the
// request for as long as the system retries (35 s to over a minute seen), and
// Marlix's start-up with it. The send runs on a thread of its own; given up,
// its handles are closed by the caller, which ends it, and it frees its state.
struct PendingSend {
  HINTERNET request = nullptr;
  BOOL sent = FALSE;
  DWORD error = 0;
  UniqueKernelHandle finished{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

DWORD WINAPI SendOnItsOwnThread(void* parameter) {
  std::unique_ptr<std::shared_ptr<PendingSend>> held(static_cast<std::shared_ptr<PendingSend>*>(parameter));
  PendingSend& send = **held;
  // Nothing may cross the thread's start: a failure is a send that failed.
  try {
    send.sent = HttpSendRequestW(send.request, nullptr, 0, nullptr, 0);
    send.error = send.sent ? 0 : GetLastError();
  } catch (...) {
    send.sent = FALSE;
    send.error = ERROR_INTERNET_INTERNAL_ERROR;
  }
  ::SetEvent(send.finished.get());
  return 0;
}

// True when sent; otherwise the error is set as GetLastError would give it.
bool SendWithDeadline(HINTERNET request, DWORD deadline_ms) {
  auto send = std::make_shared<PendingSend>();
  send->request = request;
  auto parameter = std::make_unique<std::shared_ptr<PendingSend>>(send);
  const UniqueKernelHandle thread(
      send->finished ? ::CreateThread(nullptr, 0, SendOnItsOwnThread, parameter.get(), 0, nullptr) : nullptr);
  // No thread to spare: send here, with no bound.
  if (!thread) return HttpSendRequestW(request, nullptr, 0, nullptr, 0) != FALSE;
  static_cast<void>(parameter.release());  // the thread took it over
  if (::WaitForSingleObject(send->finished.get(), deadline_ms) != WAIT_OBJECT_0) {
    ::SetLastError(ERROR_INTERNET_TIMEOUT);
    return false;
  }
  ::SetLastError(send->error);
  return send->sent != FALSE;
}

class WinInetStream final : public marlix::internet::Stream {
 public:
  WinInetStream(UniqueInternetHandle connection, UniqueInternetHandle request, std::string url, unsigned deadline_ms)
      : Stream(marlix::internet::TransferWatch(deadline_ms, url)),
        connection_(std::move(connection)),
        request_(std::move(request)),
        url_(std::move(url)) {}

  ~WinInetStream() override { Close(); }

  // Takes the status, the announced length and the part of the file the
  // body is from the answer's headers; throws for a part that is not the one
  // asked for.
  void QueryAnswer(std::uint64_t from) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (HttpQueryInfoW(request_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
      status_ = status;
    }
    const std::string length = Header(HTTP_QUERY_CONTENT_LENGTH);
    if (!length.empty()) {
      char* end = nullptr;
      const unsigned long long value = std::strtoull(length.c_str(), &end, 10);
      if (end != length.c_str()) expected_ = static_cast<long long>(value);
    }
    range_ = marlix::internet::RangeOfAnswer(status_, Header(HTTP_QUERY_CONTENT_RANGE), length, from, url_);
  }

  // WinInet reports a connection that closed before the announced length as
  // a normal end; a short body is a failure here, as it is over libcurl.
  std::size_t ReadSome(char* buffer, std::size_t size) override {
    if (!request_) return 0;
    DWORD got = 0;
    DWORD want = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    // What has arrived, not a full buffer: InternetReadFile waits for all it
    // is asked, and a trickle would keep it from the rate floor's watch.
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request_.get(), &available, 0, 0)) ThrowLastError("reading " + url_);
    if (available > 0 && available < want) want = available;
    if (!InternetReadFile(request_.get(), buffer, want, &got)) ThrowLastError("reading " + url_);
    received_ += got;
    if (got == 0 && expected_ >= 0 && received_ < expected_) {
      throw CInternetException(Failure::kConnectionLost, "the connection closed after " + std::to_string(received_) +
                                                             " of " + std::to_string(expected_) + " bytes (" + url_ +
                                                             ")");
    }
    return got;
  }

  unsigned long StatusCode() const override { return status_; }
  std::uint64_t BodyOffset() const override { return range_.offset; }
  std::uint64_t TotalLength() const override { return range_.total; }

  // Where a redirect sends the request; empty when the answer names no place.
  std::string Location() const {
    wchar_t location[4096] = {};
    DWORD size = sizeof location;
    if (!HttpQueryInfoW(request_.get(), HTTP_QUERY_LOCATION, location, &size, nullptr)) return {};
    return QueriedText(location, size);
  }

  // The value of one header of the answer; empty when it has none.
  std::string Header(DWORD query) const {
    wchar_t value[256] = {};
    DWORD size = sizeof value;
    if (!HttpQueryInfoW(request_.get(), query, value, &size, nullptr)) return {};
    return QueriedText(value, size);
  }

  // A header's text as HttpQueryInfoW wrote it: `bytes` long, without its end.
  template <std::size_t N>
  static std::string QueriedText(const wchar_t (&text)[N], DWORD bytes) {
    const std::size_t most = std::min<std::size_t>(N, bytes / sizeof(wchar_t));
    return Utf8FromWide(std::wstring_view(text, ::wcsnlen(text, most)));
  }

  // The request goes before the connection it was opened on.
  void Close() override {
    request_.reset();
    connection_.reset();
  }

 private:
  UniqueInternetHandle connection_;
  UniqueInternetHandle request_;
  std::string url_;
  unsigned long status_ = 0;
  long long expected_ = -1;
  long long received_ = 0;
  marlix::internet::BodyRange range_;
};

}  // namespace

struct CInternetSession::Backend {
  UniqueInternetHandle handle;
  DWORD connect_ms = kInternetDefaultTimeoutMs;
  DWORD receive_ms = kInternetDefaultTimeoutMs;
  std::unique_ptr<WinInetStream> SendRequest(const std::string& address, std::uint64_t from, unsigned deadline_ms);
};

CInternetSession::CInternetSession(const std::string& agent) {
  auto backend = std::make_unique<Backend>();
  backend->handle.reset(InternetOpenW(WideFromUtf8(agent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!backend->handle) ThrowLastError("InternetOpen");
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

// Sends one GET to `address`, for the file from byte `from` on, not following
// a redirect, within what is left of `deadline_ms`.
std::unique_ptr<WinInetStream> CInternetSession::Backend::SendRequest(const std::string& address, std::uint64_t from,
                                                                      unsigned deadline_ms) {
  // The request is opened step by step, not with InternetOpenUrl, so that the
  // time-outs are set on it before it is sent: set on the session only, Wine
  // lets an answer keep it waiting for ever.
  wchar_t host[256] = {};
  wchar_t path[2048] = {};
  wchar_t extra[2048] = {};
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = static_cast<DWORD>(std::size(host));
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = static_cast<DWORD>(std::size(path));
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = static_cast<DWORD>(std::size(extra));
  if (!InternetCrackUrlW(WideFromUtf8(address).c_str(), 0, 0, &parts)) {
    ThrowLastError("reading the address " + address);
  }
  const std::wstring object = std::wstring(*path != L'\0' ? path : L"/") + extra;
  const DWORD send_flags = kRequestFlags | (parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);

  UniqueInternetHandle connection(
      InternetConnectW(handle.get(), host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) ThrowLastError("connecting to " + address);
  UniqueInternetHandle request(
      HttpOpenRequestW(connection.get(), L"GET", object.c_str(), nullptr, nullptr, nullptr, send_flags, 0));
  if (!request) ThrowLastError("opening " + address);
  const HINTERNET sent = request.get();
  auto stream = std::make_unique<WinInetStream>(std::move(connection), std::move(request), address, deadline_ms);
  for (auto [option, value] : {std::pair<DWORD, DWORD>{INTERNET_OPTION_CONNECT_TIMEOUT, connect_ms},
                               {INTERNET_OPTION_SEND_TIMEOUT, receive_ms},
                               {INTERNET_OPTION_RECEIVE_TIMEOUT, receive_ms}}) {
    InternetSetOptionW(sent, option, &value, sizeof value);
  }
  if (from > 0) {
    const std::wstring range = L"Range: bytes=" + std::to_wstring(from) + L"-\r\n";
    if (!HttpAddRequestHeadersW(sent, range.c_str(), static_cast<DWORD>(range.size()),
                                HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE)) {
      ThrowLastError("asking for a part of " + address);
    }
  }
  // The connect and the wait for the answer's headers, each within its
  // time-out and both within what is left of the deadline; the body's bytes
  // are watched as they come (CInternetFile).
  const unsigned left = stream->Watch().MsLeft();
  if (!SendWithDeadline(sent, std::min<DWORD>(connect_ms + receive_ms, left))) ThrowLastError("opening " + address);
  stream->QueryAnswer(from);
  return stream;
}

std::unique_ptr<CInternetFile> CInternetSession::OpenURL(const std::string& url, std::uint64_t from,
                                                         unsigned deadline_ms) {
  if (!backend_) throw CInternetException(Failure::kOther, "the session is closed");
  std::string address = marlix::internet::HttpAddress(url);
  const marlix::internet::TransferWatch whole(deadline_ms, url);
  for (int redirects = 0;; ++redirects) {
    // A redirect's answer counts against the deadline too.
    const unsigned left = whole.MsLeft();
    if (left == 0) throw CInternetException(Failure::kTimeout, "no answer within the deadline (" + url + ")");
    std::unique_ptr<WinInetStream> stream =
        backend_->SendRequest(address, from, left == marlix::internet::TransferWatch::kNoDeadline ? 0 : left);
    const std::string location = IsRedirect(stream->StatusCode()) ? stream->Location() : std::string();
    // A redirect with nowhere to go is the answer itself.
    if (location.empty()) return std::make_unique<CHttpFile>(std::move(stream), address);
    if (redirects == kMaxRedirects) {
      throw CInternetException(Failure::kOther,
                               "more than " + std::to_string(kMaxRedirects) + " redirects from " + url);
    }
    wchar_t next[4096] = {};
    DWORD next_size = static_cast<DWORD>(std::size(next));
    if (!InternetCombineUrlW(WideFromUtf8(address).c_str(), WideFromUtf8(location).c_str(), next, &next_size,
                             ICU_NO_ENCODE)) {
      ThrowLastError("following the redirect to " + location);
    }
    address = marlix::internet::HttpAddress(Utf8FromWide(std::wstring_view(next, ::wcsnlen(next, std::size(next)))));
  }
}

void CInternetSession::Close() { backend_.reset(); }

// Internet access through libcurl, for Linux: the tests and marlix-search.
//
// libcurl pushes data through callbacks while the callers pull blocks and
// lines, so each opened URL runs in its own multi handle that is driven only
// while a caller waits for data; the transfer pauses once a little is
// buffered, so a large file never piles up in memory.
#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "internet.h"

namespace {

using Clock = std::chrono::steady_clock;

// Past this much unread data the transfer pauses until the caller catches up.
constexpr std::size_t kPauseAbove = 64 * 1024;

using marlix::internet::Failure;

// libcurl's handles, each with the call that frees it.
struct EasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using UniqueEasy = std::unique_ptr<CURL, EasyCleanup>;
using UniqueMulti = std::unique_ptr<CURLM, MultiCleanup>;
using UniqueHeaderList = std::unique_ptr<curl_slist, ListFree>;

Failure FailureOf(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return Failure::kTimeout;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return Failure::kBadAddress;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
      return Failure::kCannotConnect;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
      return Failure::kConnectionLost;
    default:
      return Failure::kOther;
  }
}

[[noreturn]] void Throw(CURLcode code, const std::string& url, const char* detail = nullptr) {
  std::string message = std::string(curl_easy_strerror(code)) + " (" + url + ")";
  if (detail != nullptr && *detail != '\0') message += ": " + std::string(detail);
  throw CInternetException(FailureOf(code), message);
}

bool StartsWithNoCase(const char* text, std::size_t size, const char* prefix) {
  const std::size_t n = std::strlen(prefix);
  return size >= n && strncasecmp(text, prefix, n) == 0;
}

class CurlStream : public marlix::internet::Stream {
 public:
  CurlStream(const std::string& url, unsigned connect_ms, unsigned receive_ms, unsigned deadline_ms)
      : Stream(marlix::internet::TransferWatch(deadline_ms, url)),
        url_(url),
        receive_timeout_(std::chrono::milliseconds(receive_ms)) {
    easy_.reset(curl_easy_init());
    multi_.reset(curl_multi_init());
    if (easy_ == nullptr || multi_ == nullptr) {
      Release();
      throw CInternetException(Failure::kOther, "libcurl could not start a transfer");
    }
    curl_easy_setopt(easy_.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy_.get(), CURLOPT_ERRORBUFFER, error_);
    curl_easy_setopt(easy_.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy_.get(), CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy_.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_.get(), CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_.get(), CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect_ms));
    curl_easy_setopt(easy_.get(), CURLOPT_WRITEFUNCTION, &CurlStream::OnBody);
    curl_easy_setopt(easy_.get(), CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy_.get(), CURLOPT_HEADERFUNCTION, &CurlStream::OnHeader);
    curl_easy_setopt(easy_.get(), CURLOPT_HEADERDATA, this);
  }

  ~CurlStream() override { Release(); }

  CURL* easy() { return easy_.get(); }

  void SetHeaders(UniqueHeaderList headers) {
    headers_ = std::move(headers);
    curl_easy_setopt(easy_.get(), CURLOPT_HTTPHEADER, headers_.get());
  }

  // Asks for the file from byte `from` on (Range: bytes=FROM-).
  void SetFrom(std::uint64_t from) {
    from_ = from;
    if (from == 0) return;
    const std::string range = std::to_string(from) + "-";
    curl_easy_setopt(easy_.get(), CURLOPT_RANGE, range.c_str());  // libcurl keeps a copy
  }

  // Sends the request and waits for the final answer's headers.
  void Start() {
    curl_multi_add_handle(multi_.get(), easy_.get());
    added_ = true;
    Pump([this] { return headers_done_; });
    // A failure after the answer began shows when the reads reach it.
    if (done_ && result_ != CURLE_OK && status_ == 0) Throw(result_, url_, error_);
    if (status_ != 0) range_ = marlix::internet::RangeOfAnswer(status_, content_range_, content_length_, from_, url_);
  }

  std::size_t ReadSome(char* buffer, std::size_t size) override {
    if (size == 0) return 0;
    Pump([this] { return pending_pos_ < pending_.size(); });
    if (pending_pos_ == pending_.size()) {
      if (result_ != CURLE_OK) Throw(result_, url_, error_);
      return 0;
    }
    const std::size_t n = std::min(size, pending_.size() - pending_pos_);
    std::memcpy(buffer, pending_.data() + pending_pos_, n);
    pending_pos_ += n;
    if (pending_pos_ == pending_.size()) {
      pending_.clear();
      pending_pos_ = 0;
    }
    return n;
  }

  unsigned long StatusCode() const override { return status_; }
  std::uint64_t BodyOffset() const override { return range_.offset; }
  std::uint64_t TotalLength() const override { return range_.total; }

  void Close() override { Release(); }

 private:
  // Drives the transfer until `ready` holds or it has ended. Waiting for data
  // longer than the receive time-out, once connected, is a failure; so is an
  // answer, its headers included, that breaks the watch's floor or deadline.
  template <typename Ready>
  void Pump(Ready ready) {
    if (multi_ == nullptr) return;
    last_activity_ = Clock::now();
    while (!ready() && !done_) {
      if (paused_ && pending_pos_ == pending_.size()) {
        paused_ = false;
        curl_easy_pause(easy_.get(), CURLPAUSE_CONT);  // may deliver the held data at once
        continue;
      }
      int running = 0;
      const CURLMcode mc = curl_multi_perform(multi_.get(), &running);
      if (mc != CURLM_OK) {
        throw CInternetException(Failure::kOther, curl_multi_strerror(mc));
      }
      int queued = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi_.get(), &queued)) {
        if (msg->msg == CURLMSG_DONE) {
          done_ = true;
          result_ = msg->data.result;
        }
      }
      if (ready() || done_) break;
      curl_off_t connected = 0;
      curl_easy_getinfo(easy_.get(), CURLINFO_CONNECT_TIME_T, &connected);
      const Clock::time_point now = Clock::now();
      if (connected == 0) {
        last_activity_ = now;  // the connect time-out watches this phase
      } else if (now - last_activity_ > receive_timeout_) {
        throw CInternetException(Failure::kTimeout, "no answer within the time-out (" + url_ + ")");
      }
      Watch().Arrived(0);
      curl_multi_poll(multi_.get(), nullptr, 0, 50, nullptr);
    }
  }

  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* self = static_cast<CurlStream*>(user);
    self->last_activity_ = Clock::now();
    self->headers_done_ = true;
    if (self->pending_.size() - self->pending_pos_ > kPauseAbove) {
      self->paused_ = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    self->pending_.append(data, size * count);
    return size * count;
  }

  // The headers of every answer pass here, redirects and interim answers
  // included; the blank line that ends the final one makes the file ready.
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* self = static_cast<CurlStream*>(user);
    const std::size_t n = size * count;
    self->last_activity_ = Clock::now();
    if (StartsWithNoCase(data, n, "HTTP/")) {
      self->has_location_ = false;
      self->content_range_.clear();
      self->content_length_.clear();
    } else if (StartsWithNoCase(data, n, "Location:")) {
      self->has_location_ = true;
    } else if (StartsWithNoCase(data, n, "Content-Range:")) {
      self->content_range_ = HeaderValue(data, n);
    } else if (StartsWithNoCase(data, n, "Content-Length:")) {
      self->content_length_ = HeaderValue(data, n);
    } else if (n <= 2 && (n == 0 || data[0] == '\r' || data[0] == '\n')) {
      long code = 0;
      curl_easy_getinfo(self->easy_.get(), CURLINFO_RESPONSE_CODE, &code);
      const bool interim = code >= 100 && code < 200;
      const bool redirect = code >= 300 && code < 400 && self->has_location_;
      if (!interim && !redirect) {
        self->status_ = static_cast<unsigned long>(code);
        self->headers_done_ = true;
      }
    }
    return n;
  }

  void Release() {
    // The easy handle leaves its multi before either goes, and the header
    // list outlasts the easy handle that sends it.
    if (multi_ != nullptr && easy_ != nullptr && added_) curl_multi_remove_handle(multi_.get(), easy_.get());
    added_ = false;
    easy_.reset();
    multi_.reset();
    headers_.reset();
    pending_.clear();
    pending_pos_ = 0;
    done_ = true;
  }

  // The value of a header line, without the blanks around it and the line end.
  static std::string HeaderValue(const char* data, std::size_t size) {
    const char* colon = static_cast<const char*>(std::memchr(data, ':', size));
    const char* begin = colon != nullptr ? colon + 1 : data + size;
    const char* end = data + size;
    while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
    while (end > begin && (end[-1] == '\r' || end[-1] == '\n' || end[-1] == ' ' || end[-1] == '\t')) --end;
    return std::string(begin, end);
  }

  std::string url_;
  Clock::duration receive_timeout_;
  UniqueHeaderList headers_;
  UniqueMulti multi_;
  UniqueEasy easy_;
  bool added_ = false;
  char error_[CURL_ERROR_SIZE] = {};
  std::string pending_;
  std::size_t pending_pos_ = 0;
  bool paused_ = false;
  bool headers_done_ = false;
  bool has_location_ = false;
  bool done_ = false;
  CURLcode result_ = CURLE_OK;
  unsigned long status_ = 0;
  std::uint64_t from_ = 0;
  std::string content_range_;  // of the latest answer's headers
  std::string content_length_;
  marlix::internet::BodyRange range_;
  Clock::time_point last_activity_;
};

// Asks every cache on the way to pass the request on to the server.
UniqueHeaderList NoCacheHeaders() {
  UniqueHeaderList list(curl_slist_append(nullptr, "Cache-Control: no-cache"));
  // A list that has a first entry grows in place.
  if (list) curl_slist_append(list.get(), "Pragma: no-cache");
  return list;
}

}  // namespace

struct CInternetSession::Backend {
  std::string agent;
  unsigned connect_ms = kInternetDefaultTimeoutMs;
  unsigned receive_ms = kInternetDefaultTimeoutMs;
};

CInternetSession::CInternetSession(const std::string& agent) {
  static std::once_flag once;
  static CURLcode global = CURLE_OK;
  std::call_once(once, [] { global = curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (global != CURLE_OK) Throw(global, "session");
  backend_ = std::make_unique<Backend>();
  backend_->agent = agent;
}

CInternetSession::~CInternetSession() = default;

void CInternetSession::SetTimeouts(unsigned connect_ms, unsigned receive_ms) {
  if (!backend_) return;
  backend_->connect_ms = connect_ms;
  backend_->receive_ms = receive_ms;
}

std::unique_ptr<CInternetFile> CInternetSession::OpenURL(const std::string& url, std::uint64_t from,
                                                         unsigned deadline_ms) {
  if (!backend_) throw CInternetException(Failure::kOther, "the session is closed");
  const std::string address = marlix::internet::HttpAddress(url);
  auto stream = std::make_unique<CurlStream>(address, backend_->connect_ms, backend_->receive_ms, deadline_ms);
  CURL* easy = stream->easy();
  if (!backend_->agent.empty()) curl_easy_setopt(easy, CURLOPT_USERAGENT, backend_->agent.c_str());
  // The system's proxy (http_proxy) is for the outside: this machine is reached directly.
  if (std::getenv("no_proxy") == nullptr && std::getenv("NO_PROXY") == nullptr) {
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
  }
  stream->SetHeaders(NoCacheHeaders());
  stream->SetFrom(from);
  stream->Start();
  return std::make_unique<CHttpFile>(std::move(stream), address);
}

void CInternetSession::Close() { backend_.reset(); }

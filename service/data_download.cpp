#include "data_download.h"

#include <cstdio>
#include <memory>

#include "data_file_check.h"
#include "data_version.h"
#include "file_steps.h"
#include "file_stream.h"
#include "signature.h"
#include "text.h"
#include "text_format.h"
#include "update_texts.h"

namespace marlix {

namespace {

// The data files are copied in blocks of this size, with one fixed buffer.
constexpr unsigned kBlockSize = 1024;

FetchVerdict Failed(DownloadResult result, std::string detail) { return {result, Refusal::kNone, std::move(detail)}; }
FetchVerdict Refused(Refusal refusal, std::string detail) {
  return {DownloadResult::kRefused, refusal, std::move(detail)};
}

FetchVerdict TooLarge(const std::string& url, std::uint64_t max_bytes) {
  return Refused(Refusal::kTooLarge, url + " has more than " + std::to_string(max_bytes) + " bytes");
}

FetchVerdict BadSignature(const std::string& url) {
  return Refused(Refusal::kBadSignature, url + signature::kSuffix + " is not the publisher's signature of " + url);
}

// A small file into memory, whole, with a 2xx status and within `max_bytes`.
// Another status is a network failure, or the refusal `unanswered` names.
BytesFetch FetchBytes(CInternetSession& session, const std::string& url, std::uint64_t max_bytes, Refusal unanswered) {
  BytesFetch fetch;
  try {
    std::unique_ptr<CInternetFile> remote = session.OpenURL(url, 0, internet::SmallFileDeadlineMs());
    if (!AnsweredWithFile(*remote)) {
      fetch.missing = AnswerStatus(*remote) == 404;
      std::string why = "HTTP status " + std::to_string(AnswerStatus(*remote)) + " for " + url;
      if (unanswered == Refusal::kNone) {
        static_cast<FetchVerdict&>(fetch) = Failed(DownloadResult::kNetworkFailure, std::move(why));
      } else {
        static_cast<FetchVerdict&>(fetch) = Refused(unanswered, std::move(why));
      }
      return fetch;
    }
    char block[kBlockSize];
    for (unsigned got = kBlockSize; got == kBlockSize;) {
      got = remote->Read(block, kBlockSize);
      if (fetch.bytes.size() + got > max_bytes) {
        static_cast<FetchVerdict&>(fetch) = TooLarge(url, max_bytes);
        fetch.bytes.clear();
        return fetch;
      }
      fetch.bytes.append(block, got);
    }
    remote->Close();
  } catch (const CInternetException& e) {
    static_cast<FetchVerdict&>(fetch) = Failed(DownloadResult::kNetworkFailure, e.what());
    fetch.bytes.clear();
  }
  return fetch;
}

// The signature the server keeps beside `url`. The name asked for decides,
// not where a redirect of the file led: the publisher signs names.
BytesFetch FetchSignature(CInternetSession& session, const std::string& url) {
  BytesFetch signature = FetchBytes(session, url + signature::kSuffix, signature::kMaxDerBytes, Refusal::kUnsigned);
  // A file longer than any signature is none.
  if (signature.refusal == Refusal::kTooLarge) static_cast<FetchVerdict&>(signature) = BadSignature(url);
  if (signature.refusal == Refusal::kUnsigned) {
    signature.detail = "no signature on the server (" + signature.detail + ")";
  }
  return signature;
}

}  // namespace

std::string RefusalText(Refusal refusal, const std::string& name) {
  switch (refusal) {
    case Refusal::kTooLarge:
      return FormatText(kTextTooLargeFormat, name);
    case Refusal::kUnsigned:
      return FormatText(kTextUnsignedFormat, name);
    case Refusal::kNotListed:
      return FormatText(kTextNotListedFormat, name);
    case Refusal::kBadManifest:
      return kTextBadManifest;
    case Refusal::kWrongForm:
      return FormatText(kTextWrongFormFormat, name);
    default:
      return FormatText(kTextBadSignatureFormat, name);
  }
}

std::uint64_t DataFileMaxBytes(std::string_view name) {
  return name == kDataVersionFile ? kMaxDataVersionBytes : kMaxDataFileBytes;
}

FileFetch FetchIntoFile(CInternetSession& session, const std::string& url, const std::string& local_path,
                        std::uint64_t max_bytes, const std::function<void()>& opened, const FetchHooks& hooks) {
  FileFetch fetch;
  const std::string part_path = local_path + ".part";
  auto fail = [&](FetchVerdict verdict) {
    RemoveFileUtf8(part_path);
    static_cast<FetchVerdict&>(fetch) = std::move(verdict);
    return fetch;
  };
  try {
    std::unique_ptr<CInternetFile> remote = session.OpenURL(url);
    // An error page is not the file: keep the one we have.
    if (!AnsweredWithFile(*remote)) {
      return fail(Failed(DownloadResult::kNetworkFailure,
                         "HTTP status " + std::to_string(AnswerStatus(*remote)) + " for " + url));
    }
    FileStream local = OpenFileStream(part_path, "wb");
    if (!local) return fail(Failed(DownloadResult::kLocalFileFailure, LastFileError()));
    if (opened) opened();
    char block[kBlockSize];
    for (;;) {
      if (hooks.cancel && hooks.cancel->load()) {
        local.reset();
        return fail(Failed(DownloadResult::kCancelled, "cancelled"));
      }
      const unsigned got = remote->Read(block, kBlockSize);
      // A server that never stops sending must not fill the disk.
      if (fetch.bytes + got > max_bytes) {
        local.reset();  // Windows removes no open file
        return fail(TooLarge(url, max_bytes));
      }
      if (got > 0 && std::fwrite(block, 1, got, local.get()) != got) {
        std::string why = LastFileError();
        local.reset();
        return fail(Failed(DownloadResult::kLocalFileFailure, why));
      }
      fetch.bytes += got;
      if (got < kBlockSize) break;
      if (hooks.progress) hooks.progress(fetch.bytes);
    }
    remote->Close();
    if (std::fclose(local.release()) != 0) return fail(Failed(DownloadResult::kLocalFileFailure, LastFileError()));
  } catch (const CInternetException& e) {
    return fail(Failed(DownloadResult::kNetworkFailure, e.what()));
  }
  const BytesFetch signature = FetchSignature(session, url);
  if (signature.result != DownloadResult::kComplete) return fail(signature);
  if (!signature::VerifyFile(part_path, signature.bytes)) return fail(BadSignature(url));
  if (hooks.check) {
    FetchVerdict verdict = hooks.check(part_path);
    if (verdict.result != DownloadResult::kComplete) return fail(std::move(verdict));
  }
  std::string error;
  if (!MoveIntoPlace(part_path, local_path, error)) return fail(Failed(DownloadResult::kLocalFileFailure, error));
  return fetch;
}

BytesFetch FetchSignedBytes(CInternetSession& session, const std::string& url, std::uint64_t max_bytes) {
  BytesFetch fetch = FetchBytes(session, url, max_bytes, Refusal::kNone);
  if (fetch.result != DownloadResult::kComplete) return fetch;
  const BytesFetch signature = FetchSignature(session, url);
  FetchVerdict verdict = signature;
  if (verdict.result == DownloadResult::kComplete && !signature::VerifyBytes(fetch.bytes, signature.bytes)) {
    verdict = BadSignature(url);
  }
  if (verdict.result != DownloadResult::kComplete) fetch.bytes.clear();
  static_cast<FetchVerdict&>(fetch) = std::move(verdict);
  return fetch;
}

namespace {

// Where no manifest binds a file's bytes to its name, the bytes themselves
// must be the file the name says: a signature alone binds bytes, not names.
FetchVerdict CheckForm(const std::string& name, const std::string& path) {
  DataFileCheck check(name);
  FileStream file = OpenFileStream(path, "rb");
  if (!file) return Failed(DownloadResult::kLocalFileFailure, LastFileError());
  char block[64 * 1024];
  for (std::size_t got; (got = std::fread(block, 1, sizeof block, file.get())) > 0;) check.Add({block, got});
  if (std::ferror(file.get())) return Failed(DownloadResult::kLocalFileFailure, LastFileError());
  const std::string fault = check.Finish();
  if (fault.empty()) return {};
  return Refused(Refusal::kWrongForm, name + " is not such a file: " + fault);
}

}  // namespace

DownloadOutcome DownloadDataFiles(const ServiceAccess& access, const char* agent, const std::string& folder,
                                  const DownloadEvents& events, const std::atomic<bool>* cancel) {
  auto status = [&](const std::string& text) {
    if (events.status) events.status(text);
  };
  DownloadOutcome outcome;
  MakeDirectory(folder);
  status(kTextConnecting);
  std::unique_ptr<CInternetSession> session;
  try {
    session = OpenServiceSession(access, agent);
  } catch (const CInternetException& e) {
    status(kTextNetworkFailure);
    return {DownloadResult::kNetworkFailure, kDataFiles[0], e.what()};
  }
  for (const char* name : kDataFiles) {
    const std::string local_path = JoinPath(folder, name);
    FetchHooks hooks;
    hooks.cancel = cancel;
    hooks.check = [name](const std::string& temp_path) { return CheckForm(name, temp_path); };
    const FileFetch fetch = FetchIntoFile(
        *session, ServiceFileUrl(access.base_url, name), local_path, DataFileMaxBytes(name),
        [&] {
          status(FormatText(kTextDownloadingFormat, local_path));
          if (events.file_started) events.file_started(name, local_path);
        },
        hooks);
    switch (fetch.result) {
      case DownloadResult::kComplete:
        break;
      case DownloadResult::kNetworkFailure:
        status(kTextNetworkFailure);
        return {fetch.result, name, fetch.detail};
      case DownloadResult::kRefused:
        status(RefusalText(fetch.refusal, name));
        return {fetch.result, name, fetch.detail};
      case DownloadResult::kCancelled:
        // The file that was coming is dropped; a file fetched whole before it stays.
        status(kTextDownloadStopped);
        return {fetch.result, name, fetch.detail};
      case DownloadResult::kLocalFileFailure:
        // The status line keeps its text; the message box tells what happened.
        if (events.local_failure) {
          events.local_failure(FormatText(kTextCannotSaveFormat, local_path, fetch.detail));
        }
        return {fetch.result, name, fetch.detail};
    }
    if (events.file_done) events.file_done(name, fetch.bytes);
  }
  session->Close();
  status(kTextDownloadDone);
  return outcome;
}

}  // namespace marlix

#include "data_download.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "local_files.h"
#include "update_texts.h"

namespace marlix {

namespace {

// The data files are copied in blocks of this size, with one fixed buffer.
constexpr unsigned kBlockSize = 1024;

std::string Format(const char* format, const std::string& a, const std::string& b = {}) {
  const int n = std::snprintf(nullptr, 0, format, a.c_str(), b.c_str());
  std::vector<char> text(static_cast<std::size_t>(n > 0 ? n : 0) + 1);
  std::snprintf(text.data(), text.size(), format, a.c_str(), b.c_str());
  return text.data();
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

FileFetch FetchIntoFile(CInternetSession& session, const std::string& url, unsigned long flags,
                        const std::string& local_path, const std::function<void()>& opened,
                        const FetchHooks& hooks) {
  FileFetch fetch;
  const std::string part_path = local_path + ".part";
  auto fail = [&](DownloadResult result, std::string detail) {
    std::remove(part_path.c_str());
    fetch.result = result;
    fetch.detail = std::move(detail);
    return fetch;
  };
  try {
    std::unique_ptr<CInternetFile> remote = session.OpenURL(url.c_str(), 1, flags);
    // An error page is not the file: keep the one we have.
    if (!AnsweredWithFile(*remote)) {
      return fail(DownloadResult::kNetworkFailure,
                  "HTTP status " + std::to_string(AnswerStatus(*remote)) + " for " + url);
    }
    std::unique_ptr<std::FILE, FileCloser> local(std::fopen(part_path.c_str(), "wb"));
    if (!local) return fail(DownloadResult::kLocalFileFailure, LastFileError());
    if (opened) opened();
    char block[kBlockSize];
    for (;;) {
      const unsigned got = remote->Read(block, kBlockSize);
      if (got > 0 && std::fwrite(block, 1, got, local.get()) != got) {
        std::string why = LastFileError();
        local.reset();  // Windows removes no open file
        return fail(DownloadResult::kLocalFileFailure, why);
      }
      fetch.bytes += got;
      if (got < kBlockSize) break;
      if (hooks.progress) hooks.progress(fetch.bytes);
    }
    remote->Close();
    if (std::fclose(local.release()) != 0) return fail(DownloadResult::kLocalFileFailure, LastFileError());
  } catch (const CInternetException& e) {
    return fail(DownloadResult::kNetworkFailure, e.what());
  }
  std::string error;
  if (hooks.accept && !hooks.accept(part_path, error)) return fail(DownloadResult::kNetworkFailure, error);
  if (!MoveIntoPlace(part_path, local_path, error)) return fail(DownloadResult::kLocalFileFailure, error);
  return fetch;
}

DownloadOutcome DownloadDataFiles(const ServiceAccess& access, const char* agent, const std::string& folder,
                                  const DownloadEvents& events) {
  auto status = [&](const std::string& text) {
    if (events.status) events.status(text);
  };
  DownloadOutcome outcome;
  MakeDirectory(folder);
  status(kTextConnecting);
  std::unique_ptr<CInternetSession> session;
  try {
    session = std::make_unique<CInternetSession>(agent);
    session->SetTimeouts(access.timeout_ms, access.timeout_ms);
  } catch (const CInternetException& e) {
    status(kTextNetworkFailure);
    return {DownloadResult::kNetworkFailure, kDataFiles[0], e.what()};
  }
  for (const char* name : kDataFiles) {
    const std::string local_path = JoinPath(folder, name);
    const FileFetch fetch =
        FetchIntoFile(*session, ServiceFileUrl(access.base_url, name), kInternetFlagTransferBinary, local_path,
                      [&] {
                        status(Format(kTextDownloadingFormat, local_path));
                        if (events.file_started) events.file_started(name, local_path);
                      });
    if (fetch.result == DownloadResult::kNetworkFailure) {
      status(kTextNetworkFailure);
      return {fetch.result, name, fetch.detail};
    }
    if (fetch.result == DownloadResult::kLocalFileFailure) {
      // The status line keeps its text; the message box tells what happened.
      if (events.local_failure) events.local_failure(Format(kTextCannotSaveFormat, local_path, fetch.detail));
      return {fetch.result, name, fetch.detail};
    }
    if (events.file_done) events.file_done(name, fetch.bytes);
    status(kTextDownloadDone);
  }
  session->Close();
  return outcome;
}

}  // namespace marlix

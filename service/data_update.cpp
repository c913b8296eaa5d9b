#include "data_update.h"

#include <filesystem>
#include <memory>
#include <vector>

#include "file_steps.h"
#include "gzip_stream.h"
#include "line_delta.h"
#include "signature.h"
#include "text.h"
#include "text_format.h"
#include "update_texts.h"
#include "work_folder.h"

namespace marlix {

namespace {

constexpr char kPartSuffix[] = ".part";
constexpr char kDeltaSuffix[] = ".delta";
// Blocks of the transfer: large enough that a national set is not a million
// small reads, small enough that a cancel is seen at once.
constexpr unsigned kTransferBlock = 16 * 1024;

std::optional<std::uint64_t> SizeOf(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(PathFromUtf8(path), error);
  if (error) return std::nullopt;
  return size;
}

std::optional<Sha256Digest> DigestOfFile(const std::string& path) {
  FileStream file = OpenFileStream(path, "rb");
  if (!file) return std::nullopt;
  signature::Sha256 hash;
  std::vector<char> block(64 * 1024);
  std::size_t got = 0;
  while ((got = std::fread(block.data(), 1, block.size(), file.get())) > 0) hash.Add(block.data(), got);
  if (std::ferror(file.get())) return std::nullopt;
  return hash.Finish();
}

std::string ReadWhole(const std::string& path, std::uint64_t max_bytes) {
  FileStream file = OpenFileStream(path, "rb");
  std::string bytes;
  if (!file) return bytes;
  char block[4096];
  std::size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file.get())) > 0 && bytes.size() + got <= max_bytes) {
    bytes.append(block, got);
  }
  return bytes;
}

std::string FileError() { return LastFileErrorIsDiskFull() ? std::string(kTextDiskFull) : LastFileError(); }

// One data file's transfer in one of its forms.
struct FormFetch {
  DownloadResult result = DownloadResult::kComplete;
  std::string detail;
  bool unanswered = false;  // the server had no such form (an error status)
};

FormFetch Failure(DownloadResult result, std::string detail) { return {result, std::move(detail)}; }

class Transfer {
 public:
  Transfer(CInternetSession& session, const ServiceAccess& access, const std::string& folder, const std::string& work,
           const DataUpdateEvents& events, const std::atomic<bool>* cancel, std::uint64_t& done, std::uint64_t total)
      : session_(session),
        access_(access),
        folder_(folder),
        work_(work),
        events_(events),
        cancel_(cancel),
        done_(done),
        total_(total) {}

  // Fetches `form` of `file` and leaves the whole, checked file in the work folder.
  FormFetch Fetch(const ManifestFile& file, const FileForm& form) {
    const std::string part = JoinPath(work_, HexOf(form.sha256) + kPartSuffix);
    const std::string target = JoinPath(work_, file.name);
    const std::string inflated = form.kind == FormKind::kDelta ? target + kDeltaSuffix : target;
    FormFetch fetch = Receive(file, form, part, inflated);
    if (fetch.result != DownloadResult::kComplete) {
      // Only the part is worth keeping: a resume inflates it again.
      if (form.kind != FormKind::kPlain) RemoveFileUtf8(inflated);
      return fetch;
    }
    if (form.kind == FormKind::kPlain) {
      std::string error;
      if (!MoveIntoPlace(part, target, error)) return Failure(DownloadResult::kLocalFileFailure, error);
    } else {
      RemoveFileUtf8(part);
    }
    if (form.kind == FormKind::kDelta) {
      fetch = ApplyDelta(file, inflated, target);
      RemoveFileUtf8(inflated);
      if (fetch.result != DownloadResult::kComplete) return fetch;
    }
    return Check(file, target);
  }

 private:
  // Receives the form's bytes into `part` (resuming what an earlier try left
  // there) and, for a compressed form, inflates them into `inflated` as they come.
  FormFetch Receive(const ManifestFile& file, const FileForm& form, const std::string& part,
                    const std::string& inflated) {
    const std::uint64_t on_disk = SizeOf(part).value_or(0);
    std::uint64_t have = 0;
    FileStream sent, out;
    std::unique_ptr<GzipInflater> inflater;
    std::unique_ptr<signature::Sha256> hash;
    // A new hash and inflater, over the part as it is (`keep`) or emptied.
    auto begin = [&](bool keep) -> bool {
      have = 0;
      hash = std::make_unique<signature::Sha256>();
      sent = OpenWorkFile(part, keep);
      if (!sent) return false;
      if (form.kind == FormKind::kPlain) return true;
      out = OpenWorkFile(inflated, false);
      if (!out) return false;
      inflater = std::make_unique<GzipInflater>(form.plain_size, [&](std::string_view piece) {
        return std::fwrite(piece.data(), 1, piece.size(), out.get()) == piece.size();
      });
      return true;
    };
    auto take = [&](const char* bytes, std::size_t size) {
      hash->Add(bytes, size);
      if (inflater) inflater->Add(std::string_view(bytes, size));
    };
    const std::uint64_t kept = on_disk <= form.size ? on_disk : 0;
    if (!begin(kept > 0)) return Failure(DownloadResult::kLocalFileFailure, FileError());
    std::vector<char> block(kTransferBlock);
    // What arrived before goes through the hash and the inflater again.
    while (have < kept) {
      const std::size_t got =
          std::fread(block.data(), 1, std::min<std::uint64_t>(block.size(), kept - have), sent.get());
      if (got == 0) return Failure(DownloadResult::kLocalFileFailure, FileError());
      take(block.data(), got);
      have += got;
    }
    if (kept > 0 && std::fseek(sent.get(), 0, SEEK_END) != 0) {
      return Failure(DownloadResult::kLocalFileFailure, FileError());
    }
    done_ += have;
    const std::string url = ServiceFileUrl(access_.base_url, form.path);
    std::uint64_t bytes = have;
    // What arrived before is of no use after all: the form from its start.
    auto start_over = [&] {
      done_ -= bytes;
      bytes = 0;
      return begin(false);
    };
    try {
      std::unique_ptr<CInternetFile> remote;
      try {
        remote = session_.OpenURL(url, have);
      } catch (const CInternetException& e) {
        if (have == 0 || e.failure() != internet::Failure::kWrongPart) throw;
      }
      // A part the server's file no longer reaches (416), one of a file of
      // another length, or one that is not the part asked for: not this
      // form's rest, so all of it again, never the same refusal at every try.
      if (have > 0 &&
          (!remote || AnswerStatus(*remote) == 416 ||
           (AnswerStatus(*remote) == 206 && remote->TotalLength() != 0 && remote->TotalLength() != form.size))) {
        if (remote) remote->Close();
        if (!start_over()) return Failure(DownloadResult::kLocalFileFailure, FileError());
        remote = session_.OpenURL(url);
      }
      if (!AnsweredWithFile(*remote)) {
        FormFetch fetch = Failure(DownloadResult::kNetworkFailure,
                                  "HTTP status " + std::to_string(AnswerStatus(*remote)) + " for " + url);
        fetch.unanswered = true;
        return fetch;
      }
      // The server sends the whole form again: start over.
      if (have > 0 && remote->BodyOffset() != have && !start_over()) {
        return Failure(DownloadResult::kLocalFileFailure, FileError());
      }
      for (;;) {
        if (cancel_ && cancel_->load()) return Failure(DownloadResult::kCancelled, "cancelled");
        const unsigned got = remote->Read(block.data(), kTransferBlock);
        if (bytes + got > form.size) {
          RemoveFileUtf8(part);
          return Failure(DownloadResult::kRefused, url + " is longer than the manifest says");
        }
        if (got > 0 && std::fwrite(block.data(), 1, got, sent.get()) != got) {
          return Failure(DownloadResult::kLocalFileFailure, FileError());
        }
        take(block.data(), got);
        if (inflater && (inflater->state() == GzipInflater::State::kSinkFailed)) {
          return Failure(DownloadResult::kLocalFileFailure, FileError());
        }
        bytes += got;
        done_ += got;
        if (events_.progress) events_.progress(done_, total_);
        if (got < kTransferBlock) break;
      }
      remote->Close();
    } catch (const CInternetException& e) {
      std::fflush(sent.get());
      return Failure(DownloadResult::kNetworkFailure, e.what());
    }
    if (std::fflush(sent.get()) != 0) return Failure(DownloadResult::kLocalFileFailure, FileError());
    // An answer that ended whole but short is not the form listed; the part
    // stays, since a connection cut without a word looks the same.
    if (bytes < form.size) return Failure(DownloadResult::kRefused, url + " is shorter than the manifest says");
    const std::optional<Sha256Digest> digest = hash->Finish();
    if (!digest || *digest != form.sha256) {
      sent.reset();
      RemoveFileUtf8(part);
      return Failure(DownloadResult::kRefused, url + " is not the file the manifest lists");
    }
    if (inflater) {
      if (inflater->state() == GzipInflater::State::kSinkFailed) {
        return Failure(DownloadResult::kLocalFileFailure, FileError());
      }
      const bool whole = inflater->state() == GzipInflater::State::kDone && inflater->out_bytes() == form.plain_size;
      if (!whole || !FlushToDisk(out.get()) || std::fclose(out.release()) != 0) {
        if (!whole) return Failure(DownloadResult::kRefused, url + " does not inflate to " + file.name);
        return Failure(DownloadResult::kLocalFileFailure, FileError());
      }
    } else if (!FlushToDisk(sent.get())) {
      return Failure(DownloadResult::kLocalFileFailure, FileError());
    }
    return {};
  }

  FormFetch ApplyDelta(const ManifestFile& file, const std::string& delta_path, const std::string& target) {
    FileStream base = OpenFileStream(JoinPath(folder_, file.name), "rb");
    FileStream delta = OpenFileStream(delta_path, "rb");
    FileStream out = OpenWorkFile(target, false);
    if (!out) return Failure(DownloadResult::kLocalFileFailure, FileError());
    if (!base || !delta) return Failure(DownloadResult::kRefused, "the delta's base cannot be read");
    std::uint64_t size = 0;
    std::string error;
    const bool applied = ApplyLineDelta(
        base.get(), delta.get(),
        [&](std::string_view piece) {
          size += piece.size();
          return size <= file.size && std::fwrite(piece.data(), 1, piece.size(), out.get()) == piece.size();
        },
        error);
    if (!FlushToDisk(out.get()) || std::fclose(out.release()) != 0) {
      return Failure(DownloadResult::kLocalFileFailure, FileError());
    }
    if (!applied) return Failure(DownloadResult::kRefused, file.name + " delta: " + error);
    return {};
  }

  // The finished file is the manifest's, byte for byte.
  FormFetch Check(const ManifestFile& file, const std::string& target) {
    if (!IsListedFile(target, file.size, file.sha256)) {
      RemoveFileUtf8(target);
      return Failure(DownloadResult::kRefused, file.name + " is not the file the manifest lists");
    }
    return {};
  }

  CInternetSession& session_;
  const ServiceAccess& access_;
  const std::string& folder_;
  const std::string& work_;
  const DataUpdateEvents& events_;
  const std::atomic<bool>* cancel_;
  std::uint64_t& done_;
  std::uint64_t total_;
};

// The forms a client may take, best first: a delta from the file it holds,
// then the compressed file, then the plain one.
std::vector<const FileForm*> UsableForms(const ManifestFile& file, const std::optional<Sha256Digest>& local) {
  std::vector<const FileForm*> forms;
  for (const FileForm& form : file.forms) {
    if (form.kind == FormKind::kDelta && (!local || form.base != *local)) continue;
    forms.push_back(&form);
  }
  return forms;
}

// The local file's SHA-256: the installed manifest's while the file has the
// size it lists and the size and time it had when it was put in place (damage
// of the same size is seen), else computed, and `hashed` set.
std::optional<Sha256Digest> LocalDigest(const std::string& folder, const char* name, const ManifestFile* installed,
                                        const InstalledStamps& stamps, bool& hashed) {
  const std::string path = JoinPath(folder, name);
  const std::optional<std::uint64_t> size = SizeOf(path);
  if (!size) return std::nullopt;
  if (installed && installed->size == *size && stamps.Hold(folder, name)) return installed->sha256;
  hashed = true;
  return DigestOfFile(path);
}

// The work folder, made the program's own (MakePrivateDirectory: only plain
// files are left in it), keeps what an earlier try of this edition left: the
// parts of its forms, for resume, and its files that arrived whole.
void ClearWorkFolder(const std::string& work, const Manifest& manifest) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(PathFromUtf8(work), error)) {
    const std::string name = Utf8FromPath(entry.path().filename());
    const std::string path = Utf8FromPath(entry.path());
    bool keep = false;
    for (const ManifestFile& file : manifest.files) {
      for (const FileForm& form : file.forms) keep = keep || name == HexOf(form.sha256) + kPartSuffix;
      keep = keep || (name == file.name && IsListedFile(path, file.size, file.sha256));
    }
    if (!keep) RemoveFileUtf8(path);
  }
}

}  // namespace

std::optional<Manifest> LocalManifest(const std::string& folder) {
  const std::string path = JoinPath(folder, kManifestFile);
  if (!IsPlainFile(path)) return std::nullopt;
  return ParseManifest(ReadWhole(path, kMaxManifestBytes)).manifest;
}

ManifestFetch FetchManifest(CInternetSession& session, const std::string& base_url) {
  ManifestFetch fetch;
  BytesFetch bytes = FetchSignedBytes(session, ServiceFileUrl(base_url, kManifestFile), kMaxManifestBytes);
  static_cast<FetchVerdict&>(fetch) = static_cast<const FetchVerdict&>(bytes);
  fetch.missing = bytes.missing;
  if (fetch.result != DownloadResult::kComplete) return fetch;
  ManifestParse parse = ParseManifest(bytes.bytes);
  if (!parse.manifest) return {{DownloadResult::kRefused, Refusal::kBadManifest, std::move(parse.error)}, {}, {}};
  fetch.manifest = std::move(parse.manifest);
  fetch.text = std::move(bytes.bytes);
  return fetch;
}

bool IsListedFile(const std::string& path, std::uint64_t size, const Sha256Digest& sha256) {
  return SizeOf(path) == size && DigestOfFile(path) == sha256;
}

DataUpdateOutcome PrepareDataUpdate(const ServiceAccess& access, const char* agent, const std::string& folder,
                                    const DataUpdateEvents& events, const std::atomic<bool>* cancel) {
  auto status = [&](const std::string& text) {
    if (events.status) events.status(text);
  };
  DataUpdateOutcome outcome;
  auto stop = [&](DownloadResult result, const std::string& file, std::string detail, const std::string& text) {
    outcome.result = result;
    outcome.file = file;
    outcome.detail = std::move(detail);
    if (!text.empty()) status(text);
    return outcome;
  };
  MakeDirectory(folder);
  RecoverDataSet(folder);
  const std::optional<Manifest> installed = LocalManifest(folder);
  status(kTextConnecting);
  std::unique_ptr<CInternetSession> session;
  try {
    session = OpenServiceSession(access, agent);
  } catch (const CInternetException& e) {
    return stop(DownloadResult::kNetworkFailure, kManifestFile, e.what(), kTextNetworkFailure);
  }
  const ManifestFetch fetched = FetchManifest(*session, access.base_url);
  // Only a service that has no manifest at all is served file by file, as
  // before, and only to a client that never installed one. A manifest that
  // is there but fails (its signature, its size, its form, or the answer) is
  // refused: nothing is installed.
  if (fetched.missing && !installed) {
    static_cast<DownloadOutcome&>(outcome) = DownloadDataFiles(access, agent, folder, events, cancel);
    return outcome;
  }
  if (fetched.result != DownloadResult::kComplete) {
    const bool refused = fetched.result == DownloadResult::kRefused;
    return stop(fetched.result, kManifestFile, fetched.detail,
                refused ? RefusalText(fetched.refusal, kManifestFile) : kTextNetworkFailure);
  }
  const Manifest& manifest = *fetched.manifest;
  outcome.edition = manifest.edition;
  for (const char* name : kDataFiles) {
    if (!manifest.Find(name)) {
      return stop(DownloadResult::kRefused, kManifestFile, std::string("no record of ") + name,
                  RefusalText(Refusal::kBadManifest, {}));
    }
  }
  if (installed && manifest.edition < installed->edition) {
    return stop(
        DownloadResult::kRefused, kManifestFile,
        "edition " + std::to_string(manifest.edition) + " is older than the installed " +
            std::to_string(installed->edition),
        FormatText(kTextOlderEditionFormat, std::to_string(manifest.edition), std::to_string(installed->edition)));
  }

  // What changed, and what it costs to fetch.
  struct Wanted {
    const ManifestFile* file;
    std::vector<const FileForm*> forms;
  };
  std::vector<Wanted> wanted;
  std::uint64_t total = 0;
  const InstalledStamps stamps = InstalledStamps::Read(folder);
  bool hashed = false;
  for (const char* name : kDataFiles) {
    const ManifestFile& file = *manifest.Find(name);
    const std::optional<Sha256Digest> local =
        LocalDigest(folder, name, installed ? installed->Find(name) : nullptr, stamps, hashed);
    if (local == file.sha256) {
      if (events.unchanged) events.unchanged(name);
      continue;
    }
    wanted.push_back({&file, UsableForms(file, local)});
    total += wanted.back().forms.front()->size;
  }
  if (wanted.empty() && installed && installed->edition == manifest.edition) {
    // Hashed and found whole: trusted again until the files change.
    if (hashed) InstalledStamps::Record(folder, {std::begin(kDataFiles), std::end(kDataFiles)});
    outcome.up_to_date = true;
    status(kTextUpToDate);
    return outcome;
  }

  const std::string work = JoinPath(folder, kWorkFolder);
  if (!MakePrivateDirectory(work)) {
    const std::string why = FileError();
    if (events.local_failure) events.local_failure(FormatText(kTextCannotSaveFormat, work, why));
    return stop(DownloadResult::kLocalFileFailure, kWorkFolder, why, {});
  }
  ClearWorkFolder(work, manifest);
  std::uint64_t done = 0;
  Transfer transfer(*session, access, folder, work, events, cancel, done, total);
  for (const Wanted& want : wanted) {
    const std::string local_path = JoinPath(folder, want.file->name);
    if (IsPlainFile(JoinPath(work, want.file->name))) {
      done += want.forms.front()->size;
      continue;  // it arrived whole before
    }
    status(FormatText(kTextDownloadingFormat, local_path));
    if (events.file_started) events.file_started(want.file->name, local_path);
    FormFetch fetch;
    for (const FileForm* form : want.forms) {
      const std::uint64_t before = done;
      fetch = transfer.Fetch(*want.file, *form);
      // A form that is not what the manifest says, or that the server does
      // not have, gives way to the next one.
      if (fetch.result != DownloadResult::kRefused && !fetch.unanswered) break;
      done = before;
    }
    switch (fetch.result) {
      case DownloadResult::kComplete:
        break;
      case DownloadResult::kCancelled:
        return stop(fetch.result, want.file->name, fetch.detail, kTextDownloadCancelled);
      case DownloadResult::kNetworkFailure:
        return stop(fetch.result, want.file->name, fetch.detail, kTextNetworkFailure);
      case DownloadResult::kRefused:
        return stop(fetch.result, want.file->name, fetch.detail, RefusalText(Refusal::kNotListed, want.file->name));
      case DownloadResult::kLocalFileFailure:
        if (events.local_failure) events.local_failure(FormatText(kTextCannotSaveFormat, local_path, fetch.detail));
        return stop(fetch.result, want.file->name, fetch.detail, {});
    }
    if (events.file_done) events.file_done(want.file->name, want.file->size);
  }
  if (!WriteWorkFile(JoinPath(work, kManifestFile), fetched.text)) {
    if (events.local_failure) {
      events.local_failure(FormatText(kTextCannotSaveFormat, JoinPath(folder, kManifestFile), FileError()));
    }
    return stop(DownloadResult::kLocalFileFailure, kManifestFile, FileError(), {});
  }
  session->Close();
  outcome.staged = true;
  return outcome;
}

DataUpdateOutcome UpdateDataFiles(const ServiceAccess& access, const char* agent, const std::string& folder,
                                  const DataUpdateEvents& events, const std::atomic<bool>* cancel) {
  DataUpdateOutcome outcome = PrepareDataUpdate(access, agent, folder, events, cancel);
  if (!outcome.staged) return outcome;
  std::string error;
  if (!CommitDataSet(folder, error)) {
    outcome.result = DownloadResult::kLocalFileFailure;
    outcome.detail = error;
    if (events.local_failure) events.local_failure(FormatText(kTextCannotSaveFormat, folder, error));
    return outcome;
  }
  outcome.staged = false;
  if (events.status) events.status(kTextDownloadDone);
  return outcome;
}

}  // namespace marlix

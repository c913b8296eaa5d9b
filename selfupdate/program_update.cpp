#include "program_update.h"

#include <cstdio>
#include <utility>

#include "data_download.h"
#include "data_update.h"
#include "file_steps.h"
#include "file_stream.h"
#include "text.h"
#include "text_format.h"
#include "updater_texts.h"
#include "windows_program.h"

namespace marlix::updater {

namespace {

// Only ASCII letters: a CP949 trail byte may fall in the ASCII range, but
// then its lead byte is above 0x80 and the pair compares the same either way.
std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

constexpr unsigned kStopWaitMs = 500;
constexpr int kStopPolls = 5;

// Restores the flag that keeps the routine from running twice at once.
class RunningFlag {
 public:
  explicit RunningFlag(bool& flag) : flag_(flag) { flag_ = true; }
  RunningFlag(const RunningFlag&) = delete;
  RunningFlag& operator=(const RunningFlag&) = delete;
  ~RunningFlag() { flag_ = false; }

 private:
  bool& flag_;
};

// The notice's line for a program that arrived and is not installed.
std::string RefusalLine(const FetchVerdict& verdict, const std::string& not_newer) {
  switch (verdict.refusal) {
    case Refusal::kTooLarge:
      return FormatText(kTextProgramTooLargeFormat, std::to_string(kMaxProgramBytes >> 20));
    case Refusal::kUnsigned:
      return kTextUnsignedProgram;
    case Refusal::kNotNewer:
      return not_newer;
    case Refusal::kNotListed:
      return kTextNotListedProgram;
    default:
      break;
  }
  return kTextBadSignatureProgram;
}

}  // namespace

ProgramUpdate::ProgramUpdate(UpdateSetup setup, UpdateWindow& window, Processes& processes, ProgramFiles& files,
                             ProgramVersions& versions, Shell& shell)
    : setup_(std::move(setup)),
      window_(window),
      processes_(processes),
      files_(files),
      versions_(versions),
      shell_(shell) {}

std::string ProgramUpdate::PathOf(const char* name) const { return JoinPath(setup_.program_dir, name); }

void ProgramUpdate::RunUpdate() {
  // The first timer tick can arrive in the loop of one of our message boxes
  // after OK has started the routine; a second run would swap files under the first.
  if (running_) return;
  RunningFlag running(running_);

  StopRunningPrograms();
  window_.EnableOK(false);
  window_.EnableCancel(false);
  if (const Download download = DownloadNewProgram(); !download.ready) {
    window_.Notice(download.reason.empty() ? std::string(kTextCannotDownload)
                                           : std::string(kTextCannotDownload) + "\n" + download.reason);
    window_.EnableOK(true);
    window_.EnableCancel(true);
    return;
  }
  window_.SetStatus(kTextDownloadFinished);
  window_.SetStatus(kTextFinishing);
  const bool replaced = SwapProgramFiles();
  StartProgram(replaced);
  window_.End();
}

// Both names are stopped whatever the first result: a user who was told to
// end the program by hand is told so once for each.
void ProgramUpdate::StopRunningPrograms() {
  for (const char* image : {kProgramImage, kNewProgramImage}) {
    if (!StopProcessByName(image)) window_.Notice(kTextStopItYourself);
  }
}

bool ProgramUpdate::StopProcessByName(std::string name) {
  const std::optional<std::vector<ProcessEntry>> list = processes_.List();
  if (!list) {
    window_.Notice(kTextCannotListProcesses);
    return false;
  }
  name = LowerAscii(std::move(name));
  if (list->empty()) return false;
  window_.SetStatus(kTextSearching);
  bool result = true;
  for (const ProcessEntry& entry : *list) {
    if (LowerAscii(entry.image_name) != name) continue;
    const std::unique_ptr<OpenedProcess> process = processes_.Open(entry.id);
    window_.SetStatus(kTextStopping);
    if (!process->Terminate()) {
      window_.SetStatus(kTextCannotStop);
      result = false;
      continue;
    }
    processes_.Wait(kStopWaitMs);
    result = false;
    for (int poll = 0; poll < kStopPolls; ++poll) {
      const std::optional<std::uint32_t> status = process->ExitStatus();
      if (!status) {
        window_.SetStatus(kTextCannotReadExit);
        continue;
      }
      if (*status != kStillActive) {
        window_.SetStatus(kTextStopped);
        result = true;
        break;
      }
      window_.SetStatus(kTextNotYetStopped);
      processes_.Wait(kStopWaitMs);
    }
  }
  return result;
}

// The body becomes the new program only when it came whole, with a 2xx status,
// within the size a program may have, signed by the publisher, and is a
// Windows program newer than the installed one: an error page installed as
// Marlix.exe would leave the user with no program at all, and a file from
// anyone else, or an older signed build, is not the publisher's update. When
// the service publishes a manifest, the program must also be the very one
// its program record names: signed bytes alone could be an older release.
ProgramUpdate::Download ProgramUpdate::DownloadNewProgram() {
  window_.SetStatus(kTextDownloadStarting);
  const std::string url = ServiceFileUrl(setup_.access.base_url, kProgramFile);
  FileFetch fetch;
  std::string not_newer;
  int bar_max = setup_.progress_max;
  try {
    const std::unique_ptr<CInternetSession> session = OpenServiceSession(setup_.access, setup_.agent);
    // Only a service that has no manifest at all (404, an older one) is
    // trusted by signature alone. One whose manifest is refused offers no
    // program, and one whose manifest did not come is a failed download: an
    // older signed build would otherwise pass for the update.
    const ManifestFetch manifest = FetchManifest(*session, setup_.access.base_url);
    if (manifest.result == DownloadResult::kRefused) {
      return {false, RefusalText(manifest.refusal, kManifestFile)};
    }
    if (manifest.result != DownloadResult::kComplete && !manifest.missing) {
      throw CInternetException(internet::Failure::kOther, kManifestFile + std::string(": ") + manifest.detail);
    }
    const bool listed_only = manifest.result == DownloadResult::kComplete;
    const std::optional<ManifestProgram> listed = listed_only ? manifest.manifest->program : std::nullopt;
    FetchHooks hooks;
    // The bar spans the program's own size where the manifest gives it, so
    // that it is full when the download is; otherwise a typical build's size.
    if (listed && listed->size > 0 && listed->size <= static_cast<std::uint64_t>(INT32_MAX)) {
      bar_max = static_cast<int>(listed->size);
    }
    // Past the bar's end every position shows the same full bar: painting it
    // again for each block made a 50 MB program take minutes under Wine.
    const auto bar_end = static_cast<std::uint64_t>(bar_max);
    std::uint64_t shown = 0;
    hooks.progress = [&](std::uint64_t bytes) {
      if (shown >= bar_end && bytes >= bar_end) return;
      shown = bytes;
      window_.SetProgressPos(bytes > static_cast<std::uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<int>(bytes));
    };
    // Only a file the publisher signed comes here, so its header and version
    // resource are read from a trusted file.
    hooks.check = [&](const std::string& temp_path) -> FetchVerdict {
      if (!IsWindowsExecutable(temp_path)) {
        return {DownloadResult::kNetworkFailure, Refusal::kNone, "not a Windows program"};
      }
      const std::optional<FileVersion> offered = versions_.Of(temp_path);
      if (listed_only && (!listed || !IsListedFile(temp_path, listed->size, listed->sha256) || !offered ||
                          CompareNumericVersions(VersionText(*offered), listed->version) != 0)) {
        return {DownloadResult::kRefused, Refusal::kNotListed, "not the program the manifest lists"};
      }
      // An installed program without a readable version (gone, or damaged) may take any signed one.
      const std::optional<FileVersion> installed = versions_.Of(PathOf(kProgramFile));
      if (offered && (!installed || CompareNumericVersions(VersionText(*offered), VersionText(*installed)) > 0)) {
        return {};
      }
      const std::string offered_text = offered ? VersionText(*offered) : kTextUnknownVersion;
      const std::string installed_text = installed ? VersionText(*installed) : kTextUnknownVersion;
      not_newer = FormatText(kTextNotNewerFormat, offered_text, installed_text);
      return {DownloadResult::kRefused, Refusal::kNotNewer,
              "version " + offered_text + " is not newer than the installed " + installed_text};
    };
    fetch = FetchIntoFile(
        *session, url, setup_.new_file, kMaxProgramBytes,
        [&] {
          window_.SetStatus(kTextDownloading);
          window_.SetProgressRange(0, bar_max);
        },
        hooks);
    session->Close();
  } catch (const CInternetException& e) {
    fetch.result = DownloadResult::kNetworkFailure;
    fetch.detail = e.what();
  }
  switch (fetch.result) {
    case DownloadResult::kComplete:
      window_.SetProgressPos(bar_max);
      window_.SetStatus(kTextDownloaded);
      return {true, {}};
    case DownloadResult::kNetworkFailure:
      window_.Notice(kTextNetworkFailure);
      window_.Repaint();
      return {};
    case DownloadResult::kLocalFileFailure:
      window_.Warning(FormatText(kTextCannotSaveFormat, setup_.new_file, fetch.detail));
      return {};
    case DownloadResult::kCancelled:
      return {};
    case DownloadResult::kRefused:
      return {false, RefusalLine(fetch, not_newer)};
  }
  return {};
}

// The old program is kept until the new one has its name: it goes back to
// "Marlix.exe" when the new file cannot take it, and it is never deleted
// while it is the only copy.
bool ProgramUpdate::SwapProgramFiles() {
  const std::string program = PathOf(kProgramFile);
  const std::string old_program = PathOf(kOldProgramFile);
  // A leftover from an earlier run would block the move aside.
  if (files_.Exists(old_program)) RemovePath(old_program);

  const bool moved_aside = RenamePath(program, old_program);
  if (!moved_aside) window_.Notice(kTextCannotMoveAside);
  // The download target is one name on every file system, whatever the case.
  const bool replaced = RenamePath(setup_.new_file, program);
  if (!replaced) {
    window_.Notice(kTextCannotPlaceNew);
    if (moved_aside && !RenamePath(old_program, program)) window_.Notice(kTextCannotMoveBack);
    return false;
  }
  if (moved_aside && !RemovePath(old_program)) window_.Notice(kTextCannotRemoveOld);
  return true;
}

// The user's program was stopped, so it is started again even when the swap
// failed; but only a replaced and started program is reported as updated.
void ProgramUpdate::StartProgram(bool replaced) {
  window_.SetStatus(kTextLaunching);
  if (shell_.Open(kProgramFile, "", setup_.program_dir)) {
    window_.Notice(replaced ? kTextUpdated : kTextUpdateEnds);
    return;
  }
  window_.Warning(std::string(kTextCannotLaunch) + "\n\n" + PathOf(kProgramFile) + kTextCheckProgramThere);
  shell_.Open("explorer.exe", setup_.program_dir, setup_.program_dir);
  window_.Notice(kTextUpdateEnds);
}

bool IsWindowsExecutable(const std::string& path) {
  const FileStream file = OpenFileStream(path, "rb");
  if (!file) return false;
  char head[kDosHeaderBytes];
  char signature[4];
  const std::optional<std::uint32_t> pe =
      std::fread(head, 1, sizeof head, file.get()) == sizeof head ? PeHeaderOffset({head, sizeof head}) : std::nullopt;
  return pe && *pe <= 0x7FFFFFFF && std::fseek(file.get(), static_cast<long>(*pe), SEEK_SET) == 0 &&
         std::fread(signature, 1, sizeof signature, file.get()) == sizeof signature &&
         IsPeSignature({signature, sizeof signature});
}

}  // namespace marlix::updater

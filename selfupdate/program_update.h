// The program update: stops every running copy of Marlix, downloads the new
// program file from the service, puts it in the place of the old one and
// starts it. Portable: the processes, the files, the shell and the window are
// reached through the small interfaces below, which the Windows program
// implements over Win32 and the tests over their own doubles.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "manifest.h"
#include "server_url.h"

namespace marlix::updater {

// The program files in the program folder, and the image names stopped.
using marlix::kProgramFile;
inline constexpr char kNewProgramFile[] = "Marlix_New.exe";
inline constexpr char kOldProgramFile[] = "Marlix_old.exe";
inline constexpr char kProgramImage[] = "marlix.exe";
inline constexpr char kNewProgramImage[] = "marlix_new.exe";

// The upper end of the progress bar while the program downloads: about the
// program's size, so the bar moves evenly for a typical build.
inline constexpr int kProgressMax = 500000;

// The most a program file may have (today's build has about 2 MB): a server
// that never stops sending must not fill the disk.
inline constexpr std::uint64_t kMaxProgramBytes = std::uint64_t{64} << 20;

// The status of a process that is still running.
inline constexpr std::uint32_t kStillActive = 259;

struct ProcessEntry {
  std::uint32_t id = 0;
  std::string image_name;  // the executable's file name, without its folder
};

// One process opened for termination. When it could not be opened, every call fails.
class OpenedProcess {
 public:
  virtual ~OpenedProcess() = default;  // gives the handle back
  virtual bool Terminate() = 0;
  virtual std::optional<std::uint32_t> ExitStatus() = 0;
};

class Processes {
 public:
  virtual ~Processes() = default;
  // The running processes in the system's order; nothing when no list can be taken.
  virtual std::optional<std::vector<ProcessEntry>> List() = 0;
  virtual std::unique_ptr<OpenedProcess> Open(std::uint32_t id) = 0;
  virtual void Wait(unsigned milliseconds) = 0;
};

// The program folder's files. A rename never replaces an existing file.
class ProgramFiles {
 public:
  virtual ~ProgramFiles() = default;
  virtual bool Rename(const std::string& from, const std::string& to) = 0;
  virtual bool Remove(const std::string& path) = 0;
  virtual bool Exists(const std::string& path) = 0;
};

// The files of this system: the C library's rename and remove, except that
// a rename here, as on Windows, never replaces an existing file.
class SystemFiles final : public ProgramFiles {
 public:
  bool Rename(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& path) override;
  bool Exists(const std::string& path) override;
};

using marlix::FileVersion;
using marlix::VersionText;

class ProgramVersions {
 public:
  virtual ~ProgramVersions() = default;
  // Nothing when the file is missing or has no version resource.
  virtual std::optional<FileVersion> Of(const std::string& path) = 0;
};

class Shell {
 public:
  virtual ~Shell() = default;
  // Opens `file` with `parameters` in `directory`, shown; true when it started.
  virtual bool Open(const std::string& file, const std::string& parameters, const std::string& directory) = 0;
};

// What the update does to its window. Notices and warnings are modal message
// boxes with the OK button: they return once the user has answered.
class UpdateWindow {
 public:
  virtual ~UpdateWindow() = default;
  virtual void SetStatus(const std::string& text) = 0;
  virtual void SetProgressRange(int lower, int upper) = 0;
  virtual void SetProgressPos(int position) = 0;
  virtual void EnableOK(bool enable) = 0;
  virtual void EnableCancel(bool enable) = 0;
  virtual void Notice(const std::string& text) = 0;   // no icon
  virtual void Warning(const std::string& text) = 0;  // exclamation icon
  virtual void Repaint() = 0;
  virtual void End() = 0;  // the window closes with the cancel result
};

// Where the update runs and what it uses.
struct UpdateSetup {
  std::string program_dir;  // the working directory of the updater
  std::string new_file;     // the download target in it
  int progress_max = kProgressMax;
  ServiceAccess access;
  std::string agent;  // the application's name
};

class ProgramUpdate {
 public:
  ProgramUpdate(UpdateSetup setup, UpdateWindow& window, Processes& processes, ProgramFiles& files,
                ProgramVersions& versions, Shell& shell);

  // The whole update. It ends the window, except after a failed download,
  // when the window stays open for another try; a call while it runs (from
  // the loop of one of its message boxes) does nothing.
  void RunUpdate();
  bool Running() const { return running_; }

  // Terminates every process of this image name (any letter case); the result
  // speaks for the last match: whether it was seen to end.
  bool StopProcessByName(std::string name);
  // How the download ended: `ready` when a whole Windows program signed by the
  // publisher, newer than the installed one, lies at the download target.
  // Otherwise `reason`, when not empty, is the line the notice gives under
  // "cannot download"; an empty one was told already.
  struct Download {
    bool ready = false;
    std::string reason;
  };
  Download DownloadNewProgram();
  bool RenamePath(const std::string& from, const std::string& to) { return files_.Rename(from, to); }
  bool RemovePath(const std::string& path) { return files_.Remove(path); }

  const UpdateSetup& setup() const { return setup_; }

 private:
  void StopRunningPrograms();
  // Puts the downloaded file in the place of the program; true when it took it.
  bool SwapProgramFiles();
  void StartProgram(bool replaced);

  std::string PathOf(const char* name) const;

  UpdateSetup setup_;
  UpdateWindow& window_;
  Processes& processes_;
  ProgramFiles& files_;
  ProgramVersions& versions_;
  Shell& shell_;
  bool running_ = false;
};

// True when the file is a Windows executable: an "MZ" header whose pointer at
// 0x3C leads to a "PE\0\0" signature inside the file.
bool IsWindowsExecutable(const std::string& path);

}  // namespace marlix::updater

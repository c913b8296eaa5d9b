// The processes and the shell of Windows, as the program update reaches them.
#pragma once

#include "program_update.h"

namespace marlix::updater {

// The Toolhelp process list; termination and exit status through OpenProcess.
class Win32Processes final : public Processes {
 public:
  std::optional<std::vector<ProcessEntry>> List() override;
  std::unique_ptr<OpenedProcess> Open(std::uint32_t id) override;
  void Wait(unsigned milliseconds) override;
};

// The version resource through GetFileVersionInfo and VerQueryValue.
class Win32ProgramVersions final : public ProgramVersions {
 public:
  std::optional<FileVersion> Of(const std::string& path) override;
};

// ShellExecuteA with the verb "open", shown, owned by no window.
class Win32Shell final : public Shell {
 public:
  bool Open(const std::string& file, const std::string& parameters, const std::string& directory) override;
};

}  // namespace marlix::updater

#include "data_set.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <iterator>

#include "data_files.h"
#include "file_steps.h"
#include "text.h"
#include "work_folder.h"

namespace marlix {

namespace {

constexpr char kCommitMarker[] = "commit";
// Beside the set: NAME SIZE TIME, a line each.
constexpr char kStampsFile[] = "installed.txt";

// The set's files in the order they go in: the manifest last, since it says
// which set is installed.
std::vector<std::string> SetFiles() {
  std::vector<std::string> names(std::begin(kDataFiles), std::end(kDataFiles));
  names.push_back(kManifestFile);
  return names;
}

struct FileTimes {
  std::uint64_t size = 0;
  long long time = 0;
};

bool TimesOf(const std::string& path, FileTimes& times) {
  std::error_code error;
  const std::filesystem::path file = PathFromUtf8(path);
  times.size = std::filesystem::file_size(file, error);
  if (error) return false;
  times.time = static_cast<long long>(std::filesystem::last_write_time(file, error).time_since_epoch().count());
  return !error;
}

}  // namespace

bool WriteWorkFile(const std::string& path, std::string_view bytes) {
  FileStream file = OpenWorkFile(path, false);
  if (!file) return false;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return false;
  return FlushToDisk(file.get()) && std::fclose(file.release()) == 0;
}

bool CommitDataSet(const std::string& folder, std::string& error) {
  const std::string work = JoinPath(folder, kWorkFolder);
  const std::string marker = JoinPath(work, kCommitMarker);
  // What is moved in is the work folder's own files, never a link planted there.
  if (!MakePrivateDirectory(work) ||
      (!IsPlainFile(marker) && (!WriteWorkFile(marker, "whole\n") || !SyncFolder(work)))) {
    error = LastFileError();
    return false;
  }
  std::vector<std::string> placed;
  for (const std::string& name : SetFiles()) {
    const std::string staged = JoinPath(work, name);
    if (!IsPlainFile(staged)) continue;
    if (!MoveIntoPlace(staged, JoinPath(folder, name), error)) return false;
    placed.push_back(name);
  }
  if (!SyncFolder(folder)) {
    error = LastFileError();
    return false;
  }
  InstalledStamps::Record(folder, placed);
  RemoveFileUtf8(marker);
  return true;
}

bool RecoverDataSet(const std::string& folder) {
  const std::string work = JoinPath(folder, kWorkFolder);
  if (!PathTaken(work)) return true;
  // A link in the work folder's place, or in it, is gone before the marker is looked for.
  if (!MakePrivateDirectory(work)) return false;
  if (!IsPlainFile(JoinPath(work, kCommitMarker))) return true;
  std::string error;
  return CommitDataSet(folder, error);
}

InstalledStamps InstalledStamps::Read(const std::string& folder) {
  InstalledStamps stamps;
  FileStream file = OpenFileStream(JoinPath(folder, kStampsFile), "rb");
  char line[512];
  while (file && std::fgets(line, sizeof line, file.get()) != nullptr) {
    const std::string_view text(line);
    const std::size_t first = text.find(' ');
    const std::size_t second = first == std::string_view::npos ? first : text.find(' ', first + 1);
    if (second == std::string_view::npos) continue;
    Stamp stamp;
    stamp.name = text.substr(0, first);
    const char* end = text.data() + text.size();
    const auto size = std::from_chars(text.data() + first + 1, text.data() + second, stamp.size);
    const auto time = std::from_chars(text.data() + second + 1, end, stamp.time);
    if (size.ec == std::errc() && time.ec == std::errc()) stamps.stamps_.push_back(std::move(stamp));
  }
  return stamps;
}

void InstalledStamps::Record(const std::string& folder, const std::vector<std::string>& vouched) {
  const InstalledStamps before = Read(folder);
  std::string text;
  for (const char* name : kDataFiles) {
    FileTimes times;
    const bool trusted = std::find(vouched.begin(), vouched.end(), name) != vouched.end() || before.Hold(folder, name);
    if (trusted && TimesOf(JoinPath(folder, name), times)) {
      text += std::string(name) + " " + std::to_string(times.size) + " " + std::to_string(times.time) + "\n";
    }
  }
  const std::string path = JoinPath(folder, kStampsFile);
  std::string error;
  // Without a record the files are hashed: a record that cannot be written costs time, never trust.
  if (!WriteWorkFile(path + ".part", text) || !MoveIntoPlace(path + ".part", path, error)) {
    RemoveFileUtf8(path + ".part");
    RemoveFileUtf8(path);
  }
}

bool InstalledStamps::Hold(const std::string& folder, std::string_view name) const {
  FileTimes times;
  if (!TimesOf(JoinPath(folder, std::string(name)), times)) return false;
  for (const Stamp& stamp : stamps_) {
    if (stamp.name == name) return stamp.size == times.size && stamp.time == times.time;
  }
  return false;
}

}  // namespace marlix

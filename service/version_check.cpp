#include "version_check.h"

#include "data_download.h"
#include "data_update.h"
#include "internet.h"

namespace marlix {

namespace {

constexpr std::string_view kVersionKey = "zipver=";
// A few lines are expected; a server that sends more is not believed.
constexpr std::uint64_t kMaxVersionFileBytes = 64 * 1024;

}  // namespace

std::string VersionFileLine(std::string_view version) {
  return std::string(kVersionKey) + std::string(version) + "\r\n";
}

bool TakeVersionLine(std::string_view line, std::string& version) {
  const std::size_t start = line.find_first_not_of(" \t\n\v\f\r");
  if (start == std::string_view::npos) return false;
  line.remove_prefix(start);
  const std::size_t key = line.find(kVersionKey);
  if (key == std::string_view::npos) return false;
  version.assign(line.substr(key + kVersionKey.size()));
  return true;
}

bool ServerVersionIsNewer(std::string_view server, std::string_view own) { return CompareVersions(server, own) > 0; }

bool FindVersionLine(std::string_view body, std::string& version) {
  std::string line;
  while (!body.empty()) {
    const std::size_t lf = body.find('\n');
    line.clear();
    for (char c : body.substr(0, lf)) {
      if (c != '\r') line += c;
    }
    if (TakeVersionLine(line, version)) return true;
    body.remove_prefix(lf == std::string_view::npos ? body.size() : lf + 1);
  }
  return false;
}

// The version file is acted on (a newer version starts the updater), so it
// counts only with the publisher's signature; without one it is as if the
// server could not be reached.
std::string FetchServerVersion(const ServiceAccess& access, const char* agent, std::string_view fallback) {
  try {
    const std::unique_ptr<CInternetSession> session = OpenServiceSession(access, agent);
    const BytesFetch file =
        FetchSignedBytes(*session, ServiceFileUrl(access.base_url, kProgramVersionFile), kMaxVersionFileBytes);
    std::string version;
    if (file.result == DownloadResult::kComplete && FindVersionLine(file.bytes, version)) return version;
  } catch (const CInternetException&) {
    // The check is silent: the program starts as it is.
  }
  return std::string(fallback);
}

std::string ShortVersionText(const FileVersion& version) {
  std::size_t parts = version.size();
  while (parts > 2 && version[parts - 1] == 0) --parts;
  std::string text = std::to_string(version[0]);
  for (std::size_t i = 1; i < parts; ++i) text += "." + std::to_string(version[i]);
  return text;
}

ProgramOffer CheckServiceProgram(const ServiceAccess& access, const char* agent, const FileVersion& own,
                                 const std::string& data_folder) {
  ProgramOffer offer;
  offer.version = VersionText(own);
  ManifestFetch fetched;
  try {
    fetched = FetchManifest(*OpenServiceSession(access, agent), access.base_url);
  } catch (const CInternetException& e) {
    fetched.result = DownloadResult::kNetworkFailure;
    fetched.detail = e.what();
  }
  if (fetched.missing) {
    // No manifest (404): an older service, which names its program in the version file.
    const std::string short_own = ShortVersionText(own);
    offer.version = FetchServerVersion(access, agent, short_own);
    offer.newer = ServerVersionIsNewer(offer.version, short_own);
    return offer;
  }
  if (fetched.result != DownloadResult::kComplete) {
    offer.detail = "no manifest: " + fetched.detail;
    return offer;
  }
  const Manifest& manifest = *fetched.manifest;
  const std::optional<Manifest> installed = LocalManifest(data_folder);
  if (installed && manifest.edition < installed->edition) {
    offer.detail = "edition " + std::to_string(manifest.edition) + " is older than the installed " +
                   std::to_string(installed->edition);
    return offer;
  }
  if (!manifest.program) {
    offer.detail = "the manifest names no program";
    return offer;
  }
  offer.version = manifest.program->version;
  offer.newer = CompareNumericVersions(manifest.program->version, VersionText(own)) > 0;
  return offer;
}

}  // namespace marlix

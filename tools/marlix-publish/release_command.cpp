// `marlix-publish release`: puts signed data files and a signed program on the
// service, in an order that never shows a client a file before its signature
// or a version line before its program.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "command_util.h"
#include "data_file_check.h"
#include "data_download.h"
#include "edition_files.h"
#include "iconv_converter.h"
#include "output_file.h"
#include "signature_file.h"
#include "program_file.h"
#include "release_lock.h"
#include "served_records.h"
#include "sign_commands.h"
#include "signing.h"
#include "version_check.h"

namespace publish = marlix::publish;
using publish::Fail;
using publish::UsageError;

const char kReleaseUsage[] =
    "  marlix-publish release --key PRIVATE.pem --to SERVERDIR [--program Marlix.exe] [--data DIR]\n"
    "                         [--previous-key PUBLIC.pem]\n";

namespace {

constexpr char kReleaseHelp[] =
    "\n"
    "Copies into SERVERDIR (the folder served as /zipcode/search/) the data files\n"
    "of DIR (postcode.txt, post.csv, postver.txt) and the program, each with its\n"
    "signature NAME.sig, and writes MarlixVer.ini (zipver=) from the program's own\n"
    "version. Each release is a new edition N (one above the last): its files go\n"
    "into editions/N/, each data file gzip-compressed (NAME.gz) and postcode.txt\n"
    "also as a line delta from each of the last editions kept\n"
    "(postcode.txt.from-M.delta.gz), and manifest.txt (signed, manifest.txt.sig)\n"
    "lists the edition, the program and every file with its forms, sizes and\n"
    "SHA-256. Everything goes in under temporary names first; then the edition's\n"
    "files, each signature and its file, the data before postver.txt, the program\n"
    "before MarlixVer.ini, and the manifest last. Editions older than the last 6\n"
    "that the manifest no longer names are removed. A key that does not load, a\n"
    "program that is not a Windows executable or not newer than the one\n"
    "published, or data that is not CP949 postcode data stop the run with exit\n"
    "status 2 and SERVERDIR as it was.\n"
    "\n"
    "One release at a time: a second one into SERVERDIR waits for the first\n"
    "(lock file SERVERDIR/.marlix-publish.lock). Others may write SERVERDIR, so\n"
    "nothing there is taken unchecked: a manifest.txt that does not verify with\n"
    "the key, a file the new manifest would list again whose bytes are not the\n"
    "ones recorded, and a link where editions/, an edition or the lock file\n"
    "should be also stop the run with exit status 2. For the first release after\n"
    "a key change, --previous-key names the public key the last one was signed\n"
    "with; all that this release writes is signed with --key.\n";

struct ReleaseOptions {
  std::string key, to, program, data, previous_key;
};

std::optional<int> ParseReleaseArguments(int argc, char** argv, ReleaseOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::printf("Usage:\n%s%s", kReleaseUsage, kReleaseHelp);
      return publish::kExitDone;
    }
    std::string* value = arg == "--key"            ? &options.key
                         : arg == "--to"           ? &options.to
                         : arg == "--program"      ? &options.program
                         : arg == "--data"         ? &options.data
                         : arg == "--previous-key" ? &options.previous_key
                                                   : nullptr;
    if (value == nullptr) return UsageError("unknown argument '" + std::string(arg) + "'", kReleaseUsage);
    if (i + 1 >= argc) return UsageError(std::string(arg) + " needs a value", kReleaseUsage);
    *value = argv[++i];
  }
  if (options.key.empty() || options.to.empty()) return UsageError("--key and --to are needed", kReleaseUsage);
  if (options.program.empty() && options.data.empty()) {
    return UsageError("nothing to release: give --program, --data or both", kReleaseUsage);
  }
  return std::nullopt;
}

// The offset of the first byte that does not begin a character CP949 holds
// (the codec's own strict reading, not only the byte ranges), or npos.
std::size_t FirstNonCp949(std::string_view text) {
  marlix::IconvConverter check("UTF-16LE", "CP949");
  return check.ok() ? check.FirstNotConverted(text) : 0;
}

// Why `bytes` are not a file the programs can take as `name`; empty when they are.
std::string DataFault(const std::string& name, std::string_view bytes) {
  if (const std::size_t bad = FirstNonCp949(bytes); bad != std::string_view::npos) {
    return name + ": not CP949 text (byte " + std::to_string(bad) + ")";
  }
  if (name != marlix::kPostcodeFile) return {};
  marlix::DataFileCheck lines(name);
  lines.Add(bytes);
  const std::string fault = lines.Finish();
  return fault.empty() ? fault : name + ": " + fault;
}

// One file to place: its bytes, signed, written beside its place first.
// `name` is its path under the served folder.
struct Placement {
  std::string name;
  std::string bytes;
  std::unique_ptr<publish::OutputFile> file, sig;
  bool is_signed = true;
};

std::string Today() {
  const std::time_t now = std::time(nullptr);
  char date[16] = {};
  std::strftime(date, sizeof date, "%Y-%m-%d", std::gmtime(&now));
  return date;
}

// The manifest of the new edition, and the edition's own files in `files`.
// Without data in this release the files of the last manifest stay listed;
// without any, there is no manifest to write.
std::optional<marlix::Manifest> NewEdition(const publish::Folder& served, const publish::TrustedKeys& keys,
                                           const std::optional<marlix::Manifest>& last,
                                           const std::vector<std::uint64_t>& published, std::span<const Placement> data,
                                           const std::optional<marlix::ManifestProgram>& program,
                                           std::vector<Placement>& files) {
  if (data.empty() && !last) return std::nullopt;
  marlix::Manifest manifest;
  manifest.edition = std::max(last ? last->edition : 0, published.empty() ? 0 : published.back()) + 1;
  manifest.published = Today();
  manifest.program = program ? program : last ? last->program : std::nullopt;
  if (data.empty()) {
    manifest.files = last->files;
    return manifest;
  }
  const std::vector<publish::EarlierEdition> earlier = publish::EarlierEditions(served, keys, last, published);
  std::vector<publish::EditionFile> edition_files;
  for (const Placement& p : data) {
    const std::vector<publish::EarlierEdition> none;
    manifest.files.push_back(publish::DataFileRecord(manifest.edition, p.name, p.bytes,
                                                     p.name == marlix::kPostcodeFile ? earlier : none, edition_files));
  }
  for (publish::EditionFile& f : edition_files) files.push_back({f.path, std::move(f.bytes), nullptr, nullptr, false});
  return manifest;
}

// Edition folders past the ones kept that the manifest no longer names,
// removed without following a link: only what is in editions/ goes.
void RemoveOldEditions(const publish::Folder& editions, const std::vector<std::uint64_t>& published,
                       const marlix::Manifest& manifest) {
  for (std::size_t i = 0; i + publish::kKeptEditions < published.size(); ++i) {
    const std::string name = std::to_string(published[i]);
    const std::string folder = std::string(publish::kEditionsFolder) + "/" + name + "/";
    bool named = false;
    for (const marlix::ManifestFile& file : manifest.files) {
      for (const marlix::FileForm& form : file.forms) named = named || form.path.rfind(folder, 0) == 0;
    }
    if (!named && !editions.RemoveAll(name)) {
      std::fprintf(stderr, "marlix-publish: %s could not be removed whole\n", editions.PathOf(name).c_str());
    }
  }
}

}  // namespace

int RunReleaseCommand(int argc, char** argv) {
  ReleaseOptions options;
  if (std::optional<int> done = ParseReleaseArguments(argc, argv, options)) return *done;
  std::string why;
  const std::optional<marlix::signing::Key> key = marlix::signing::Key::LoadPrivate(options.key, why);
  if (!key) return Fail(why);
  std::optional<marlix::signing::Key> previous_key;
  if (!options.previous_key.empty()) {
    previous_key = marlix::signing::Key::LoadPublic(options.previous_key, why);
    if (!previous_key) return Fail(why);
  }
  const publish::TrustedKeys keys{*key, previous_key ? &*previous_key : nullptr};

  // Everything is read and judged before anything is written.
  std::vector<Placement> order;
  std::optional<marlix::ManifestProgram> program_record;
  std::optional<publish::ProgramVersion> version;
  if (!options.data.empty()) {
    for (const char* name : marlix::kDataFiles) {
      const std::string path = (std::filesystem::path(options.data) / name).string();
      std::optional<std::string> bytes = publish::ReadWholeFile(path);
      if (!bytes) return Fail(path + ": cannot be read: " + std::strerror(errno));
      if (std::string fault = DataFault(name, *bytes); !fault.empty())
        return Fail(path + ": " + fault.substr(std::strlen(name) + 2));
      order.push_back({name, std::move(*bytes), nullptr, nullptr});
    }
  }
  if (!options.program.empty()) {
    std::optional<std::string> program = publish::ReadWholeFile(options.program);
    if (!program) return Fail(options.program + ": cannot be read: " + std::strerror(errno));
    version = publish::ReadProgramVersion(*program, why);
    if (!version) return Fail(options.program + ": " + why);
    // The fixed numbers, not the FileVersion text: they are what the updater
    // and the running program read from the file and compare.
    program_record =
        marlix::ManifestProgram{marlix::VersionText(version->number), program->size(), publish::DigestOf(*program)};
    order.push_back({marlix::kProgramFile, std::move(*program), nullptr, nullptr});
    order.push_back({marlix::kProgramVersionFile, marlix::VersionFileLine(version->text), nullptr, nullptr});
  }

  // The folder is read only under its lock, and only what is proven the
  // publisher's is taken from it.
  const std::optional<publish::Folder> served = publish::Folder::Open(options.to, why);
  if (!served) return Fail(why);
  const std::optional<publish::ReleaseLock> lock = publish::ReleaseLock::Take(*served, why);
  if (!lock) return Fail(why);
  const std::optional<std::vector<std::uint64_t>> published = publish::PublishedEditions(*served, why);
  if (!published) return Fail(why);
  why.clear();
  const std::optional<marlix::Manifest> last = publish::SignedManifest(*served, marlix::kManifestFile, keys, why);
  if (!why.empty()) return Fail(why + "; nothing was published");
  if (version) {
    std::string unread;
    const std::optional<std::string> old_program =
        served->ReadFile(marlix::kProgramFile, marlix::kMaxDataFileBytes, unread);
    const std::optional<publish::ProgramVersion> old =
        old_program ? publish::ReadProgramVersion(*old_program, unread) : std::nullopt;
    if (old &&
        marlix::CompareNumericVersions(marlix::VersionText(version->number), marlix::VersionText(old->number)) <= 0) {
      return Fail(options.program + ": version " + version->text + " is not newer than the published " + old->text);
    }
    std::string zipver;
    const std::optional<std::string> ini =
        served->ReadFile(marlix::kProgramVersionFile, marlix::kMaxDataVersionBytes, unread);
    if (ini && marlix::TakeVersionLine(ini->substr(0, ini->find_first_of("\r\n")), zipver) &&
        !marlix::ServerVersionIsNewer(version->text, zipver)) {
      return Fail(options.program + ": version " + version->text +
                  " does not sort after the published zipver=" + zipver + ", so no program would update to it");
    }
  }
  if (last) {
    if (std::string fault = publish::CarriedFault(*served, *last, !program_record, options.data.empty());
        !fault.empty()) {
      return Fail(fault + "; nothing was published");
    }
  }

  const std::size_t data_count = options.data.empty() ? 0 : std::size(marlix::kDataFiles);
  std::vector<Placement> edition;
  const std::optional<marlix::Manifest> manifest = NewEdition(
      *served, keys, last, *published, std::span<const Placement>(order.data(), data_count), program_record, edition);
  // The edition's files first, with a copy of its manifest that later
  // releases read it by; then the plain files that older clients fetch, and
  // the manifest that names them all last.
  std::string edition_folder;
  if (manifest) {
    const std::string text = marlix::ManifestText(*manifest);
    const marlix::ManifestParse back = marlix::ParseManifest(text);
    if (!back.manifest || marlix::ManifestText(*back.manifest) != text) {
      return Fail("the manifest of edition " + std::to_string(manifest->edition) +
                  " would not read back as the programs read it (" + back.error + "); nothing was published");
    }
    edition_folder = std::string(publish::kEditionsFolder) + "/" + std::to_string(manifest->edition);
    if (!edition.empty()) edition.push_back({edition_folder + "/" + marlix::kManifestFile, text, nullptr, nullptr});
    order.insert(order.begin(), std::make_move_iterator(edition.begin()), std::make_move_iterator(edition.end()));
    order.push_back({marlix::kManifestFile, text, nullptr, nullptr});
  }

  std::optional<publish::Folder> editions, this_edition;
  for (Placement& p : order) {
    const publish::Folder* dir = &*served;
    const std::string parent = std::filesystem::path(p.name).parent_path().string();
    if (!parent.empty()) {
      if (!editions) editions = served->Sub(publish::kEditionsFolder, true, why);
      if (editions && !this_edition) this_edition = editions->Sub(std::to_string(manifest->edition), true, why);
      if (!this_edition || parent != edition_folder) return Fail(why.empty() ? p.name + ": not in this edition" : why);
      dir = &*this_edition;
    }
    const std::string leaf = std::filesystem::path(p.name).filename().string();
    p.file = std::make_unique<publish::OutputFile>(*dir, leaf);
    if (!p.file->opened()) return Fail(options.to + ": cannot write " + p.name + " there");
    p.file->Write(p.bytes);
    if (!p.file->Close()) return Fail(options.to + ": cannot write " + p.name + " whole");
    if (!p.is_signed) continue;
    publish::SignatureFile sig = publish::WriteSignatureFile(*key, p.bytes, *dir, leaf);
    switch (sig.fault) {
      case publish::SignatureFault::kNotSigned:
        return Fail(p.name + ": cannot be signed");
      case publish::SignatureFault::kNotOpened:
        return Fail(options.to + ": cannot write " + p.name + ".sig there");
      case publish::SignatureFault::kNotWritten:
        return Fail(options.to + ": cannot write " + p.name + ".sig whole");
      case publish::SignatureFault::kNone:
        break;
    }
    p.sig = std::move(sig.file);
  }
  // Each signature before its file, and the files in their order.
  for (Placement& p : order) {
    if ((p.sig && !p.sig->Place()) || !p.file->Place()) {
      return Fail(options.to + ": " + p.name + " could not be put in place; what came before it is published");
    }
    if (p.sig && p.name.find('/') == std::string::npos) {
      std::printf("published %s and %s.sig\n", p.file->path().c_str(), p.name.c_str());
    }
  }
  if (manifest) {
    if (!editions) editions = served->Sub(publish::kEditionsFolder, false, why);
    const std::optional<std::vector<std::uint64_t>> now = editions ? publish::EditionsIn(*editions, why) : std::nullopt;
    if (now) RemoveOldEditions(*editions, *now, *manifest);
    std::printf("published edition %llu (%zu files in %s/%llu)\n", static_cast<unsigned long long>(manifest->edition),
                edition.size(), publish::kEditionsFolder, static_cast<unsigned long long>(manifest->edition));
  }
  return publish::kExitDone;
}

#include "served_records.h"

#include <cstdio>

#include "data_files.h"

namespace marlix::publish {

namespace {

// Reads an earlier edition's file for a delta, and says so when the file is
// not the one its record names (not when the delta maker stopped the read).
bool ReadEarlier(const Folder& served, std::uint64_t edition, const FileForm& gzip, std::uint64_t size,
                 const Sha256Digest& sha256, const ByteSink& sink) {
  bool stopped = false;
  const bool whole = ReadGzipForm(served, gzip, size, sha256, [&](std::string_view piece) {
    stopped = !sink(piece);
    return !stopped;
  });
  if (!whole && !stopped) {
    std::fprintf(stderr, "marlix-publish: no delta from edition %llu: %s is not the file its manifest records\n",
                 static_cast<unsigned long long>(edition), served.PathOf(gzip.path).c_str());
  }
  return whole;
}

}  // namespace

bool TrustedKeys::Verify(std::string_view bytes, std::string_view signature) const {
  return release.Verify(bytes, signature) || (previous != nullptr && previous->Verify(bytes, signature));
}

std::optional<Manifest> SignedManifest(const Folder& served, const std::string& path, const TrustedKeys& keys,
                                       std::string& why) {
  const std::optional<std::string> text = served.ReadFile(path, kMaxManifestBytes, why);
  if (!text) {
    if (!why.empty()) why = served.PathOf(path) + ": " + why;
    return std::nullopt;
  }
  std::string sig_why;
  const std::optional<std::string> signature = served.ReadFile(path + ".sig", 4096, sig_why);
  if (!signature || !keys.Verify(*text, *signature)) {
    why = served.PathOf(path) + ": its signature " + path + ".sig is missing, damaged or not made with the " +
          "release key (or --previous-key), so nothing in it is taken as the publisher's";
    return std::nullopt;
  }
  ManifestParse parse = ParseManifest(*text);
  if (!parse.manifest)
    why = served.PathOf(path) + ": signed, but not a manifest the programs read (" + parse.error + ")";
  return std::move(parse.manifest);
}

std::string CarriedFault(const Folder& served, const Manifest& last, bool program, bool files) {
  const std::string told = " is not what the signed " + std::string(kManifestFile) + " records for it";
  if (program && last.program && !served.Holds(kProgramFile, last.program->size, last.program->sha256)) {
    return served.PathOf(kProgramFile) + told + " (version " + last.program->version + ", " +
           std::to_string(last.program->size) + " bytes); release the program again with --program";
  }
  if (!files) return {};
  for (const ManifestFile& file : last.files) {
    for (const FileForm& form : file.forms) {
      if (!served.Holds(form.path, form.size, form.sha256)) {
        return served.PathOf(form.path) + told + " (" + std::to_string(form.size) +
               " bytes); release the data again with --data";
      }
    }
  }
  return {};
}

std::vector<EarlierEdition> EarlierEditions(const Folder& served, const TrustedKeys& keys,
                                            const std::optional<Manifest>& last,
                                            const std::vector<std::uint64_t>& published) {
  std::vector<EarlierEdition> earlier;
  for (auto it = published.rbegin(); it != published.rend() && earlier.size() < kKeptEditions; ++it) {
    const std::uint64_t edition = *it;
    const std::string gzip_path = GzipPath(edition, kPostcodeFile);
    std::string why;
    const std::string own = std::string(kEditionsFolder) + "/" + std::to_string(edition) + "/" + kManifestFile;
    const std::optional<Manifest> own_manifest = SignedManifest(served, own, keys, why);
    const ManifestFile* file = nullptr;
    const FileForm* gzip = nullptr;
    for (const std::optional<Manifest>* manifest : {&own_manifest, &last}) {
      const ManifestFile* f = *manifest ? (*manifest)->Find(kPostcodeFile) : nullptr;
      if (f == nullptr || gzip != nullptr) continue;
      for (const FileForm& form : f->forms) {
        if (form.kind == FormKind::kGzip && form.path == gzip_path) {
          file = f;
          gzip = &form;
        }
      }
    }
    if (gzip == nullptr) {
      std::fprintf(stderr, "marlix-publish: no delta from edition %llu: %s\n", static_cast<unsigned long long>(edition),
                   why.empty() ? (served.PathOf(own) + " is missing").c_str() : why.c_str());
      continue;
    }
    earlier.push_back({edition, file->sha256,
                       [&served, edition, form = *gzip, size = file->size, sha = file->sha256](const ByteSink& sink) {
                         return ReadEarlier(served, edition, form, size, sha, sink);
                       }});
  }
  return earlier;
}

}  // namespace marlix::publish

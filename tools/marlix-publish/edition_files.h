// The delivery files of one published data edition: each data file
// gzip-compressed, and for postcode.txt a line delta from each kept earlier
// edition, all in editions/N/ under names that never change once published,
// with the manifest that lists them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "manifest.h"

namespace marlix::publish {

inline constexpr char kEditionsFolder[] = "editions";
inline constexpr int kKeptEditions = 6;

std::string GzipBytes(std::string_view bytes);
// The inflated bytes of a gzip member, within `max_bytes`.
std::optional<std::string> GunzipBytes(std::string_view gzip, std::uint64_t max_bytes);

Sha256Digest DigestOf(std::string_view bytes);

// One file of the edition folder: its path under the service's folder and bytes.
struct EditionFile {
  std::string path;
  std::string bytes;
};

// The records and files of one data file in edition `edition`: the gzip form,
// and for postcode.txt a delta from each earlier edition in `earlier`
// (number and plain bytes) whose file differs.
struct EarlierEdition {
  std::uint64_t edition;
  std::string plain;
};
ManifestFile DataFileRecord(std::uint64_t edition, const std::string& name, std::string_view bytes,
                            const std::vector<EarlierEdition>& earlier, std::vector<EditionFile>& files);

// The path of a data file's gzip form in an edition.
std::string GzipPath(std::uint64_t edition, const std::string& name);

// The edition folders under `served` (their numbers, oldest first).
std::vector<std::uint64_t> PublishedEditions(const std::filesystem::path& served);

}  // namespace marlix::publish

// The signed manifest of one published edition of the data: what every file
// of the set is (size and SHA-256), which forms of it the server offers
// (gzip, and line deltas from earlier editions), and which program goes with
// it. A client takes a file only when it is what the manifest says, and a
// manifest only when its edition is not below the one it holds, so an older
// set, another release's file or another file's bytes are never installed.
//
// The text, ASCII, one record a line, fields separated by single spaces:
//   marlix-manifest 1
//   edition 42
//   published 2026-12-08
//   program Marlix.exe 1.2.0.0 SIZE SHA256
//   file postcode.txt SIZE SHA256
//   gzip postcode.txt PATH SIZE SHA256
//   delta postcode.txt BASE-SHA256 PATH SIZE SHA256 PLAIN-SIZE
// PATH is under the service's folder; SIZE and SHA256 of a form are those of
// the bytes sent; a delta's PLAIN-SIZE is its size once inflated.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data_files.h"
#include "signature.h"
#include "version_order.h"

namespace marlix {

// The program the manifest's program record names.
inline constexpr char kProgramFile[] = "Marlix.exe";
inline constexpr std::uint64_t kMaxManifestBytes = 64 * 1024;
// Editions are numbered from 1 up to this, a release a minute for centuries:
// a number the publisher and every client read alike, never near overflow.
inline constexpr std::uint64_t kMaxEdition = 999'999'999;
// An edition's number as the manifest and the editions/ folder write it:
// plain decimal (no sign, no leading zero) from 1 to kMaxEdition.
std::optional<std::uint64_t> ParseEdition(std::string_view text);

using Sha256Digest = signature::Digest;

std::string HexOf(const Sha256Digest& digest);
std::optional<Sha256Digest> DigestFromHex(std::string_view hex);

// How a file may travel: whole and plain, gzip-compressed, or as a
// gzip-compressed line delta from the file whose SHA-256 is `base`.
enum class FormKind { kPlain, kGzip, kDelta };

struct FileForm {
  FormKind kind = FormKind::kPlain;
  std::string path;              // under the service's folder
  std::uint64_t size = 0;        // of the bytes sent
  Sha256Digest sha256{};         // of the bytes sent
  Sha256Digest base{};           // a delta's: the file it applies to
  std::uint64_t plain_size = 0;  // inflated: the file's own size, or the delta's
};

struct ManifestFile {
  std::string name;
  std::uint64_t size = 0;
  Sha256Digest sha256{};
  std::vector<FileForm> forms;  // the plain form (the file under its own name) last
};

struct ManifestProgram {
  std::string version;  // dotted numbers, as in the program's version resource
  std::uint64_t size = 0;
  Sha256Digest sha256{};
};

struct Manifest {
  std::uint64_t edition = 0;
  std::string published;  // YYYY-MM-DD
  std::optional<ManifestProgram> program;
  std::vector<ManifestFile> files;

  const ManifestFile* Find(std::string_view name) const;
};

// The manifest of `text`, or why it is none. Unknown record kinds are
// refused, as are editions outside 1 to kMaxEdition, data files the programs
// do not know, paths that leave the service's folder and sizes past a data
// file's cap.
struct ManifestParse {
  std::optional<Manifest> manifest;
  std::string error;
};
ManifestParse ParseManifest(std::string_view text);
std::string ManifestText(const Manifest& manifest);

}  // namespace marlix

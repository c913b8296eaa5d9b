// The delivery files of one published data edition: each data file
// gzip-compressed, and for postcode.txt a line delta from each kept earlier
// edition, all in editions/N/ under names that never change once published,
// with the manifest that lists them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "manifest.h"
#include "served_folder.h"

namespace marlix::publish {

inline constexpr char kEditionsFolder[] = "editions";
inline constexpr int kKeptEditions = 6;

// gzip -9, made as the bytes come; the output may not grow past `max_out`.
class GzipDeflater {
 public:
  explicit GzipDeflater(std::uint64_t max_out);
  ~GzipDeflater();
  GzipDeflater(const GzipDeflater&) = delete;
  GzipDeflater& operator=(const GzipDeflater&) = delete;

  // False once the output would pass `max_out`, or zlib fails.
  bool Add(std::string_view bytes);
  // The whole gzip member, or nothing after a failure.
  std::optional<std::string> Finish();

 private:
  bool Deflate(std::string_view bytes, bool finish);
  struct Stream;
  std::unique_ptr<Stream> stream_;
  std::uint64_t max_out_;
  std::string out_;
  bool failed_ = false;
};

std::string GzipBytes(std::string_view bytes);

Sha256Digest DigestOf(std::string_view bytes);

// One file of the edition folder: its path under the service's folder and bytes.
struct EditionFile {
  std::string path;
  std::string bytes;
};

// An earlier edition's postcode.txt, as the base of a delta: its number, its
// SHA-256 as that edition's manifest records it, and a way to read it, which
// says whether the bytes it gave were the whole file of that record.
using ByteSink = std::function<bool(std::string_view)>;
struct EarlierEdition {
  std::uint64_t edition = 0;
  Sha256Digest sha256{};
  std::function<bool(const ByteSink& sink)> read;
};

// The records and files of one data file in edition `edition`: the gzip form,
// and for postcode.txt a delta from each earlier edition in `earlier` whose
// file differs and reads whole.
ManifestFile DataFileRecord(std::uint64_t edition, const std::string& name, std::string_view bytes,
                            const std::vector<EarlierEdition>& earlier, std::vector<EditionFile>& files);

// The path of a data file's gzip form in an edition.
std::string GzipPath(std::uint64_t edition, const std::string& name);

// Reads the gzip form `form` of a file of `plain_size` bytes whose SHA-256 is
// `sha256` from `served`, inflated, to `sink`: no more compressed bytes than
// the form's size and no more inflated ones than the file's. True only when
// every byte of the record came and they hash to it.
bool ReadGzipForm(const Folder& served, const FileForm& form, std::uint64_t plain_size, const Sha256Digest& sha256,
                  const ByteSink& sink);

// The editions in `served`'s editions folder, oldest first: the real folders
// whose names are edition numbers. Nothing, with `why` set, when a link (or
// anything but a folder) stands where the editions folder or an edition
// should be.
std::optional<std::vector<std::uint64_t>> PublishedEditions(const Folder& served, std::string& why);
// The same of an editions folder opened already.
std::optional<std::vector<std::uint64_t>> EditionsIn(const Folder& editions, std::string& why);

}  // namespace marlix::publish

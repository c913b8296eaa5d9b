#include "edition_files.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>

#include "gzip_stream.h"
#include "line_delta.h"
#include "signature.h"

namespace marlix::publish {

namespace {
constexpr int kGzipWindow = 16 + MAX_WBITS;

std::string EditionFolder(std::uint64_t edition) { return std::string(kEditionsFolder) + "/" + std::to_string(edition); }

FileForm FormOf(FormKind kind, std::string path, std::string_view sent, std::uint64_t plain_size) {
  FileForm form;
  form.kind = kind;
  form.path = std::move(path);
  form.size = sent.size();
  form.sha256 = DigestOf(sent);
  form.plain_size = plain_size;
  return form;
}
}  // namespace

std::string GzipBytes(std::string_view bytes) {
  z_stream z{};
  std::string out;
  if (deflateInit2(&z, 9, Z_DEFLATED, kGzipWindow, 9, Z_DEFAULT_STRATEGY) != Z_OK) return out;
  out.resize(deflateBound(&z, bytes.size()) + 64);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  // zlib counts in 32 bits: feed and take in pieces.
  std::size_t fed = 0;
  int result = Z_OK;
  do {
    const std::size_t piece = std::min<std::size_t>(bytes.size() - fed, 1u << 30);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data() + fed));
    z.avail_in = static_cast<uInt>(piece);
    fed += piece;
    const int flush = fed == bytes.size() ? Z_FINISH : Z_NO_FLUSH;
    do {
      const std::size_t at = static_cast<std::size_t>(reinterpret_cast<char*>(z.next_out) - out.data());
      z.avail_out = static_cast<uInt>(std::min<std::size_t>(out.size() - at, 1u << 30));
      result = deflate(&z, flush);
    } while (result == Z_OK && (z.avail_in > 0 || flush == Z_FINISH));
  } while (fed < bytes.size() && result != Z_STREAM_ERROR);
  out.resize(z.total_out);
  deflateEnd(&z);
  return result == Z_STREAM_END ? out : std::string();
}

std::optional<std::string> GunzipBytes(std::string_view gzip, std::uint64_t max_bytes) {
  std::string plain;
  GzipInflater inflater(max_bytes, [&](std::string_view piece) {
    plain.append(piece);
    return true;
  });
  if (inflater.Add(gzip) != GzipInflater::State::kDone) return std::nullopt;
  return plain;
}

Sha256Digest DigestOf(std::string_view bytes) {
  signature::Sha256 hash;
  hash.Add(bytes.data(), bytes.size());
  return hash.Finish().value_or(Sha256Digest{});
}

std::string GzipPath(std::uint64_t edition, const std::string& name) {
  return EditionFolder(edition) + "/" + name + ".gz";
}

ManifestFile DataFileRecord(std::uint64_t edition, const std::string& name, std::string_view bytes,
                            const std::vector<EarlierEdition>& earlier, std::vector<EditionFile>& files) {
  ManifestFile record;
  record.name = name;
  record.size = bytes.size();
  record.sha256 = DigestOf(bytes);
  EditionFile gzip{GzipPath(edition, name), GzipBytes(bytes)};
  const FileForm gzip_form = FormOf(FormKind::kGzip, gzip.path, gzip.bytes, bytes.size());
  for (const EarlierEdition& old : earlier) {
    if (old.plain == bytes) continue;
    const std::string delta = MakeLineDelta(old.plain, bytes);
    EditionFile file{EditionFolder(edition) + "/" + name + ".from-" + std::to_string(old.edition) + ".delta.gz",
                     GzipBytes(delta)};
    // A delta no smaller than the compressed file is no help.
    if (file.bytes.empty() || file.bytes.size() >= gzip.bytes.size()) continue;
    FileForm form = FormOf(FormKind::kDelta, file.path, file.bytes, delta.size());
    form.base = DigestOf(old.plain);
    record.forms.push_back(std::move(form));
    files.push_back(std::move(file));
  }
  record.forms.push_back(gzip_form);
  files.push_back(std::move(gzip));
  record.forms.push_back(FormOf(FormKind::kPlain, name, bytes, bytes.size()));
  return record;
}

std::vector<std::uint64_t> PublishedEditions(const std::filesystem::path& served) {
  std::vector<std::uint64_t> editions;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(served / kEditionsFolder, error)) {
    const std::string name = entry.path().filename().string();
    std::uint64_t n = 0;
    const auto [end, parsed] = std::from_chars(name.data(), name.data() + name.size(), n);
    if (parsed == std::errc() && end == name.data() + name.size() && entry.is_directory()) editions.push_back(n);
  }
  std::sort(editions.begin(), editions.end());
  return editions;
}

}  // namespace marlix::publish

#include "edition_files.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

#include "data_download.h"
#include "gzip_stream.h"
#include "line_delta.h"
#include "line_form.h"
#include "signature.h"

namespace marlix::publish {

namespace {
constexpr int kGzipWindow = 16 + MAX_WBITS;

std::string EditionFolder(std::uint64_t edition) {
  return std::string(kEditionsFolder) + "/" + std::to_string(edition);
}

FileForm FormOf(FormKind kind, std::string path, std::string_view sent, std::uint64_t plain_size) {
  FileForm form;
  form.kind = kind;
  form.path = std::move(path);
  form.size = sent.size();
  form.sha256 = DigestOf(sent);
  form.plain_size = plain_size;
  return form;
}

// The delta from `old` to the new file of `target`, compressed, when it
// comes out smaller than `smaller_than` bytes; `plain` is its inflated size.
std::optional<std::string> CompressedDelta(const DeltaTarget& target, const EarlierEdition& old,
                                           std::uint64_t smaller_than, std::uint64_t& plain) {
  GzipDeflater gzip(smaller_than - 1);
  // The earlier file was published: its lines are data lines with their line end.
  LineDeltaMaker delta(target, kDataLineMaxBytes + 2, [&](std::string_view text) { return gzip.Add(text); });
  if (!old.read([&](std::string_view piece) { return delta.Count(piece); })) return std::nullopt;
  delta.Counted();
  if (!old.read([&](std::string_view piece) { return delta.Add(piece); }) || !delta.Finish()) return std::nullopt;
  plain = delta.size();
  return gzip.Finish();
}

}  // namespace

struct GzipDeflater::Stream {
  z_stream z{};
  bool open = false;
};

GzipDeflater::GzipDeflater(std::uint64_t max_out) : stream_(std::make_unique<Stream>()), max_out_(max_out) {
  stream_->open = deflateInit2(&stream_->z, 9, Z_DEFLATED, kGzipWindow, 9, Z_DEFAULT_STRATEGY) == Z_OK;
  failed_ = !stream_->open;
}

GzipDeflater::~GzipDeflater() {
  if (stream_->open) deflateEnd(&stream_->z);
}

bool GzipDeflater::Add(std::string_view bytes) { return Deflate(bytes, false); }

std::optional<std::string> GzipDeflater::Finish() {
  if (!Deflate({}, true)) return std::nullopt;
  return std::move(out_);
}

bool GzipDeflater::Deflate(std::string_view bytes, bool finish) {
  if (failed_) return false;
  z_stream& z = stream_->z;
  char block[256 * 1024];
  // zlib counts in 32 bits: the input goes in pieces.
  do {
    const std::size_t piece = std::min<std::size_t>(bytes.size(), 1u << 30);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(piece);
    bytes.remove_prefix(piece);
    const int flush = finish && bytes.empty() ? Z_FINISH : Z_NO_FLUSH;
    int result = Z_OK;
    do {
      z.next_out = reinterpret_cast<Bytef*>(block);
      z.avail_out = sizeof block;
      result = deflate(&z, flush);
      const std::size_t made = sizeof block - z.avail_out;
      if (result == Z_STREAM_ERROR || out_.size() + made > max_out_) {
        failed_ = true;
        return false;
      }
      out_.append(block, made);
    } while (z.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
  } while (!bytes.empty());
  return true;
}

std::string GzipBytes(std::string_view bytes) {
  GzipDeflater gzip(std::numeric_limits<std::uint64_t>::max());
  gzip.Add(bytes);
  return gzip.Finish().value_or(std::string());
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
  std::optional<DeltaTarget> target;
  for (const EarlierEdition& old : earlier) {
    if (old.sha256 == record.sha256) continue;
    if (!target) target.emplace(bytes);
    std::uint64_t plain = 0;
    // A delta no smaller than the compressed file is no help.
    std::optional<std::string> delta = CompressedDelta(*target, old, gzip.bytes.size(), plain);
    if (!delta || plain > DataFileMaxBytes(name)) continue;
    EditionFile file{EditionFolder(edition) + "/" + name + ".from-" + std::to_string(old.edition) + ".delta.gz",
                     std::move(*delta)};
    FileForm form = FormOf(FormKind::kDelta, file.path, file.bytes, plain);
    form.base = old.sha256;
    record.forms.push_back(std::move(form));
    files.push_back(std::move(file));
  }
  record.forms.push_back(gzip_form);
  files.push_back(std::move(gzip));
  record.forms.push_back(FormOf(FormKind::kPlain, name, bytes, bytes.size()));
  return record;
}

bool ReadGzipForm(const Folder& served, const FileForm& form, std::uint64_t plain_size, const Sha256Digest& sha256,
                  const ByteSink& sink) {
  std::string why;
  const UniqueFd file = served.OpenFile(form.path, why);
  if (!file) return false;
  signature::Sha256 hash;
  GzipInflater inflater(plain_size, [&](std::string_view piece) {
    hash.Add(piece.data(), piece.size());
    return sink(piece);
  });
  std::uint64_t sent = 0;
  const bool read = StreamFile(file.get(), form.size, [&](std::string_view piece) {
    sent += piece.size();
    const GzipInflater::State state = inflater.Add(piece);
    return state == GzipInflater::State::kMore || state == GzipInflater::State::kDone;
  });
  return read && sent == form.size && inflater.state() == GzipInflater::State::kDone &&
         inflater.out_bytes() == plain_size && hash.Finish() == sha256;
}

std::optional<std::vector<std::uint64_t>> PublishedEditions(const Folder& served, std::string& why) {
  why.clear();
  const std::optional<Folder> editions = served.Sub(kEditionsFolder, false, why);
  if (editions) return EditionsIn(*editions, why);
  if (why.empty()) return std::vector<std::uint64_t>();
  why += " where the editions folder should be; remove it (nothing was published)";
  return std::nullopt;
}

std::optional<std::vector<std::uint64_t>> EditionsIn(const Folder& editions, std::string& why) {
  std::vector<std::uint64_t> numbers;
  for (const std::string& name : editions.Names()) {
    const std::optional<std::uint64_t> edition = ParseEdition(name);
    if (!edition) continue;
    if (const Folder::Kind kind = editions.KindOf(name); kind != Folder::Kind::kFolder) {
      why = editions.PathOf(name) + ": " + (kind == Folder::Kind::kLink ? "a link" : "not a folder") +
            " where an edition should be; remove it (nothing was published)";
      return std::nullopt;
    }
    numbers.push_back(*edition);
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

}  // namespace marlix::publish

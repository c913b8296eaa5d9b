#include "manifest.h"

#include <algorithm>
#include <charconv>

#include "data_download.h"

namespace marlix {

namespace {

constexpr std::string_view kMagic = "marlix-manifest 1";

// Fields parted by single spaces. A space at the end makes an empty last
// field, so that only the text the publisher writes reads as a record: the
// manifest is signed text and must say one thing one way.
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  if (line.empty()) return fields;
  for (;;) {
    const std::size_t space = line.find(' ');
    fields.push_back(line.substr(0, space));
    if (space == std::string_view::npos) break;
    line.remove_prefix(space + 1);
  }
  return fields;
}

bool ToNumber(std::string_view text, std::uint64_t& value) {
  if (text.empty() || text.size() > 19 || (text.size() > 1 && text[0] == '0')) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

bool IsDataFile(std::string_view name) {
  return std::any_of(std::begin(kDataFiles), std::end(kDataFiles), [&](const char* known) { return name == known; });
}

// A path below the service's folder: plain names and folders, no way up.
bool IsServicePath(std::string_view path) {
  if (path.empty() || path.size() > 200 || path.front() == '/' || path.back() == '/') return false;
  for (char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '-' || c == '_' || c == '/';
    if (!plain) return false;
  }
  return path.find("..") == std::string_view::npos && path.find("//") == std::string_view::npos;
}

bool IsDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

constexpr const char* kFormNames[] = {"file", "gzip", "delta"};

}  // namespace

std::string HexOf(const Sha256Digest& digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(64);
  for (std::uint8_t b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

std::optional<Sha256Digest> DigestFromHex(std::string_view hex) {
  if (hex.size() != 64) return std::nullopt;
  Sha256Digest digest{};
  for (std::size_t i = 0; i < 64; ++i) {
    const char c = hex[i];
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else {
      return std::nullopt;
    }
    digest[i / 2] = static_cast<std::uint8_t>(digest[i / 2] * 16 + v);
  }
  return digest;
}

std::optional<std::uint64_t> ParseEdition(std::string_view text) {
  std::uint64_t edition = 0;
  if (!ToNumber(text, edition) || edition < 1 || edition > kMaxEdition) return std::nullopt;
  return edition;
}

const ManifestFile* Manifest::Find(std::string_view name) const {
  for (const ManifestFile& file : files) {
    if (file.name == name) return &file;
  }
  return nullptr;
}

ManifestParse ParseManifest(std::string_view text) {
  ManifestParse parse;
  Manifest manifest;
  bool have_edition = false;
  std::size_t number = 0;
  auto fail = [&](const std::string& why) {
    parse.error = "manifest line " + std::to_string(number) + ": " + why;
    return parse;
  };
  if (text.size() > kMaxManifestBytes) return fail("longer than " + std::to_string(kMaxManifestBytes) + " bytes");
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return fail("no line feed at the end");
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (number == 1) {
      if (line != kMagic) return fail("not a manifest of this kind");
      continue;
    }
    const std::vector<std::string_view> f = Fields(line);
    if (f.empty()) return fail("empty");
    const std::string_view kind = f[0];
    std::uint64_t n = 0;
    if (kind == "edition" && f.size() == 2 && !have_edition) {
      const std::optional<std::uint64_t> edition = ParseEdition(f[1]);
      if (!edition) return fail("the edition is not a number from 1 to " + std::to_string(kMaxEdition));
      manifest.edition = *edition;
      have_edition = true;
    } else if (kind == "published" && f.size() == 2 && manifest.published.empty()) {
      if (!IsDate(f[1])) return fail("the date is not YYYY-MM-DD");
      manifest.published = f[1];
    } else if (kind == "program" && f.size() == 5 && !manifest.program) {
      ManifestProgram program;
      const auto sha = DigestFromHex(f[4]);
      if (f[1] != kProgramFile || !CompareNumericVersions(f[2], f[2]) || !ToNumber(f[3], program.size) || !sha) {
        return fail("a program record of another form");
      }
      program.version = f[2];
      program.sha256 = *sha;
      manifest.program = program;
    } else if (kind == "file" && f.size() == 4) {
      ManifestFile file;
      file.name = f[1];
      const auto sha = DigestFromHex(f[3]);
      if (!IsDataFile(file.name)) return fail("not a data file: " + file.name);
      if (manifest.Find(file.name)) return fail(file.name + " twice");
      if (!ToNumber(f[2], file.size) || file.size > DataFileMaxBytes(file.name) || !sha) {
        return fail("a file record of another form");
      }
      file.sha256 = *sha;
      file.forms.push_back({FormKind::kPlain, file.name, file.size, file.sha256, {}, file.size});
      manifest.files.push_back(std::move(file));
    } else if ((kind == "gzip" && f.size() == 5) || (kind == "delta" && f.size() == 7)) {
      const bool delta = kind == "delta";
      auto* file = const_cast<ManifestFile*>(manifest.Find(f[1]));
      if (file == nullptr) return fail("a form of a file not listed before it");
      FileForm form;
      form.kind = delta ? FormKind::kDelta : FormKind::kGzip;
      const std::size_t at = delta ? 3 : 2;
      const auto base = delta ? DigestFromHex(f[2]) : std::optional<Sha256Digest>(Sha256Digest{});
      const auto sha = DigestFromHex(f[at + 2]);
      form.path = f[at];
      form.plain_size = file->size;
      if (!base || !sha || !IsServicePath(form.path) || !ToNumber(f[at + 1], form.size) ||
          form.size > DataFileMaxBytes(file->name) ||
          (delta && (!ToNumber(f[6], n) || n > DataFileMaxBytes(file->name)))) {
        return fail("a " + std::string(kind) + " record of another form");
      }
      if (delta) form.plain_size = n;
      form.base = *base;
      form.sha256 = *sha;
      file->forms.insert(file->forms.end() - 1, std::move(form));
    } else {
      return fail("unknown record '" + std::string(kind) + "'");
    }
  }
  if (!have_edition || manifest.published.empty()) {
    parse.error = "manifest without its edition or date";
    return parse;
  }
  parse.manifest = std::move(manifest);
  return parse;
}

std::string ManifestText(const Manifest& manifest) {
  std::string text = std::string(kMagic) + "\n";
  text += "edition " + std::to_string(manifest.edition) + "\n";
  text += "published " + manifest.published + "\n";
  if (manifest.program) {
    text += std::string("program ") + kProgramFile + " " + manifest.program->version + " " +
            std::to_string(manifest.program->size) + " " + HexOf(manifest.program->sha256) + "\n";
  }
  for (const ManifestFile& file : manifest.files) {
    text += "file " + file.name + " " + std::to_string(file.size) + " " + HexOf(file.sha256) + "\n";
    for (const FileForm& form : file.forms) {
      if (form.kind == FormKind::kPlain) continue;
      text += std::string(kFormNames[static_cast<int>(form.kind)]) + " " + file.name;
      if (form.kind == FormKind::kDelta) text += " " + HexOf(form.base);
      text += " " + form.path + " " + std::to_string(form.size) + " " + HexOf(form.sha256);
      if (form.kind == FormKind::kDelta) text += " " + std::to_string(form.plain_size);
      text += "\n";
    }
  }
  return text;
}

}  // namespace marlix

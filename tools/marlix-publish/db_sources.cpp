#include "db_sources.h"

#include <sys/stat.h>
#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "file_stream.h"
#include "utf8_bytes.h"

namespace marlix::publish {

namespace {

class FileLines final : public LineReader {
 public:
  explicit FileLines(std::FILE* file) : file_(file) {}

 protected:
  long long ReadBlock(char* to, std::size_t max) override {
    const std::size_t n = std::fread(to, 1, max, file_);
    return n == 0 && std::ferror(file_) != 0 ? -1 : static_cast<long long>(n);
  }

 private:
  std::FILE* file_;
};

class ZipEntryLines final : public LineReader {
 public:
  explicit ZipEntryLines(zip_file_t* entry) : entry_(entry) {}

 protected:
  long long ReadBlock(char* to, std::size_t max) override { return zip_fread(entry_, to, max); }

 private:
  zip_file_t* entry_;
};

struct ZipCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};
struct ZipEntryCloser {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool EndsWithTxt(std::string_view name) {
  if (name.size() < 4) return false;
  std::string end(name.substr(name.size() - 4));
  for (char& c : end) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return end == ".txt";
}

bool IsZip(const std::string& path) {
  const marlix::FileStream file = marlix::OpenFileStream(path, "rb");
  char magic[4] = {};
  return file && std::fread(magic, 1, 4, file.get()) == 4 &&
         (std::memcmp(magic, "PK\x03\x04", 4) == 0 || std::memcmp(magic, "PK\x05\x06", 4) == 0);
}

std::string ReadZip(const std::string& path, const Cp949Tables& names, const TextReader& read) {
  int error = 0;
  std::unique_ptr<zip_t, ZipCloser> zip(zip_open(path.c_str(), ZIP_RDONLY, &error));
  if (!zip) {
    zip_error_t why;
    zip_error_init_with_code(&why, error);
    std::string message = path + ": cannot be read as a zip: " + zip_error_strerror(&why);
    zip_error_fini(&why);
    return message;
  }
  std::size_t texts = 0;
  const zip_int64_t count = zip_get_num_entries(zip.get(), 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    // The raw name: Korea Post's are CP949 bytes, which libzip would take for CP437.
    const char* raw = zip_get_name(zip.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
    if (raw == nullptr || !EndsWithTxt(raw)) continue;
    const std::string_view name(raw);
    SourceText text;
    text.label = path + "/" + (IsUtf8Text(name) ? std::string(name) : names.ToUtf8(name));
    text.shown = Cp949String(names.ToCp949(BaseName(path)) + "/" + names.ToCp949(name));
    zip_stat_t stat;
    if (zip_stat_index(zip.get(), static_cast<zip_uint64_t>(i), 0, &stat) == 0 && (stat.valid & ZIP_STAT_MTIME)) {
      text.modified = stat.mtime;
    }
    std::unique_ptr<zip_file_t, ZipEntryCloser> entry(zip_fopen_index(zip.get(), static_cast<zip_uint64_t>(i), 0));
    if (!entry) return text.label + ": cannot be read: " + zip_strerror(zip.get());
    ZipEntryLines lines(entry.get());
    if (std::string stop = read(text, lines); !stop.empty()) return stop;
    if (lines.failed()) return text.label + ": cannot be read: " + zip_file_strerror(entry.get());
    ++texts;
  }
  if (texts == 0) return path + ": a zip without a .txt file, not Korea Post's address DB";
  return {};
}

}  // namespace

bool LineReader::Next(std::string_view& line) {
  while (true) {
    const char* start = buffer_.data() + begin_;
    if (const void* lf = std::memchr(start, '\n', end_ - begin_)) {
      const auto len = static_cast<std::size_t>(static_cast<const char*>(lf) - start);
      begin_ += len + 1;
      line = std::string_view(start, len > 0 && start[len - 1] == '\r' ? len - 1 : len);
      return true;
    }
    if (at_end_ || failed_) {
      if (begin_ == end_ || failed_) return false;
      // The last line has no line feed.
      const std::size_t len = end_ - begin_;
      begin_ = end_;
      line = std::string_view(start, len > 0 && start[len - 1] == '\r' ? len - 1 : len);
      return true;
    }
    if (begin_ == 0 && end_ == buffer_.size()) {
      // No line of the DB is this long: a file without line feeds is read in
      // pieces, never whole, and its pieces are bad rows.
      begin_ = end_;
      line = std::string_view(start, end_);
      return true;
    }
    // Keep the part line at the front.
    std::memmove(buffer_.data(), start, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    const long long n = ReadBlock(buffer_.data() + end_, buffer_.size() - end_);
    if (n < 0) failed_ = true;
    if (n <= 0) at_end_ = true;
    if (n > 0) end_ += static_cast<std::size_t>(n);
  }
}

std::string ReadTextFile(const std::string& path, const Cp949Tables& names, const TextReader& read) {
  const marlix::FileStream file = marlix::OpenFileStream(path, "rb");
  if (!file) return path + ": cannot be opened: " + std::strerror(errno);
  SourceText text;
  text.label = path;
  text.shown = Cp949String(names.ToCp949(BaseName(path)));
  struct stat st {};
  if (fstat(fileno(file.get()), &st) == 0) text.modified = st.st_mtime;
  FileLines lines(file.get());
  if (std::string stop = read(text, lines); !stop.empty()) return stop;
  if (lines.failed()) return path + ": cannot be read: " + std::strerror(errno);
  return {};
}

std::string ReadSource(const std::string& source, const Cp949Tables& names, const TextReader& read) {
  return IsZip(source) ? ReadZip(source, names, read) : ReadTextFile(source, names, read);
}

}  // namespace marlix::publish

// The texts a SOURCE argument names: a text file of the DB, or each text in
// Korea Post's zipcode_DB.zip (read with libzip). Each is read line by line
// through one block buffer, so that a source of any size is never held whole.
#pragma once

#include <cstddef>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cp949_bytes.h"
#include "cp949_text.h"

namespace marlix::publish {

// Lines of one text, without their line ends (LF or CR LF).
class LineReader {
 public:
  virtual ~LineReader() = default;

  // The next line, good until the next call; false at the end or on a read
  // error (see failed()).
  bool Next(std::string_view& line);
  bool failed() const { return failed_; }

 protected:
  // Bytes read into `to`, 0 at the end, negative on an error.
  virtual long long ReadBlock(char* to, std::size_t max) = 0;

 private:
  std::vector<char> buffer_ = std::vector<char>(std::size_t{4} << 20);
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool at_end_ = false;
  bool failed_ = false;
};

struct SourceText {
  std::string label;  // for messages (UTF-8): the path, or the zip's path, '/' and the entry's name
  Cp949String shown;  // for the data's version text: the file's name, or the zip's and the entry's
  std::time_t modified = 0;
};

// Reads one text; returns a message (UTF-8) when the whole run must stop.
using TextReader = std::function<std::string(const SourceText& text, LineReader& lines)>;

// Hands each text of `source` to `read`: the file itself, or every .txt entry
// of a zip in the zip's order. Returns the first message that stops the run:
// `read`'s, or why the source could not be read.
std::string ReadSource(const std::string& source, const Cp949Tables& names, const TextReader& read);

// Reads a plain file line by line; returns the message of `read` or of a failure.
std::string ReadTextFile(const std::string& path, const Cp949Tables& names, const TextReader& read);

}  // namespace marlix::publish

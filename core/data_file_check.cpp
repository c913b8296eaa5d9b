#include "data_file_check.h"

#include <algorithm>

#include "code_names.h"
#include "data_files.h"
#include "line_form.h"

namespace marlix {

namespace {

// A line as long as any data line may be, with its CR.
constexpr std::size_t kLineHeld = kDataLineMaxBytes + 1;

bool IsTextByte(unsigned char c) { return c >= 0x20 || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

DataFileCheck::DataFileCheck(std::string_view name)
    : kind_(name == kPostcodeFile      ? Kind::kPostcode
            : name == kCodeNamesFile   ? Kind::kCodeNames
            : name == kDataVersionFile ? Kind::kVersion
                                       : Kind::kOther) {}

void DataFileCheck::EndLine() {
  ++lines_;
  std::string_view line = line_;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line_long_ || PublishedFormOf(line) == LineForm::kNone) {
    fault_ = "line " + std::to_string(lines_) + " is not a postcode line (NNNNN or NNN-NNN, a space, the address, " +
             "at most " + std::to_string(kDataLineMaxBytes) + " bytes)";
  }
  line_.clear();
  line_long_ = false;
}

void DataFileCheck::Add(std::string_view bytes) {
  const std::size_t size = bytes.size();
  if (!fault_.empty()) return;
  switch (kind_) {
    case Kind::kPostcode:
      while (!bytes.empty() && fault_.empty()) {
        const std::size_t lf = bytes.find('\n');
        // Only as much as a data line may have is held: a longer one is refused at its end.
        line_.append(bytes.substr(0, std::min(lf, kLineHeld + 1 - std::min(line_.size(), kLineHeld + 1))));
        line_long_ = line_long_ || line_.size() > kLineHeld;
        if (lf == std::string_view::npos) break;
        EndLine();
        bytes.remove_prefix(lf + 1);
      }
      break;
    case Kind::kCodeNames: {
      // The header's columns and the byte after them say enough of the first row.
      constexpr std::size_t kHeld = kCodeNamesOldHeader.size() + 1;
      if (row_ended_) break;
      const std::size_t lf = bytes.find('\n');
      line_.append(bytes.substr(0, std::min(lf, kHeld - std::min(line_.size(), kHeld))));
      row_ended_ = lf != std::string_view::npos || line_.size() >= kHeld;
      break;
    }
    case Kind::kVersion:
      for (std::size_t i = 0; i < size; ++i) {
        if (!IsTextByte(static_cast<unsigned char>(bytes[i]))) {
          fault_ = "not text (byte " + std::to_string(bytes_ + i) + ")";
          break;
        }
      }
      break;
    case Kind::kOther:
      break;
  }
  bytes_ += size;
}

std::string DataFileCheck::Finish() {
  if (!fault_.empty()) return fault_;
  switch (kind_) {
    case Kind::kPostcode:
      if (!line_.empty() || line_long_) EndLine();
      if (fault_.empty() && lines_ == 0) fault_ = "empty";
      break;
    case Kind::kCodeNames: {
      std::string_view row = line_;
      if (row.size() == kCodeNamesOldHeader.size() + 1 && row.back() == '\r') row.remove_suffix(1);
      const bool header = row.substr(0, kCodeNamesOldHeader.size()) == kCodeNamesOldHeader &&
                          (row.size() == kCodeNamesOldHeader.size() || row[kCodeNamesOldHeader.size()] == ',');
      if (!header) fault_ = "its first row is not post.csv's header row";
      break;
    }
    case Kind::kVersion:
    case Kind::kOther:
      break;
  }
  return fault_;
}

}  // namespace marlix

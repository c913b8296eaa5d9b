// What each data file must be, judged by its bytes as they come: the test a
// file takes where no manifest binds its bytes to its name, so that signed
// bytes of one file are never installed as another. The publisher's release
// judges postcode.txt's lines by the same rule.
//   postcode.txt  not empty, every line a data line as it may be published
//                 (PublishedFormOf), CR LF or LF;
//   post.csv      its header row (the five columns of the older form, or more);
//   postver.txt   text: no control bytes but tab, CR and LF.
// A file of another name is not judged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace marlix {

class DataFileCheck {
 public:
  explicit DataFileCheck(std::string_view name);

  // The file's next bytes; pieces may be cut anywhere.
  void Add(std::string_view bytes);
  // Why the bytes are not the file the name says; empty when they are.
  std::string Finish();

 private:
  enum class Kind { kPostcode, kCodeNames, kVersion, kOther };
  void EndLine();

  Kind kind_;
  std::string line_;        // of postcode.txt, the line so far; of post.csv, its first row so far
  bool line_long_ = false;  // the line passed what any data line may have
  bool row_ended_ = false;  // post.csv's first row is whole
  std::uint64_t lines_ = 0;
  std::uint64_t bytes_ = 0;
  std::string fault_;
};

}  // namespace marlix

// The data set as every front end opens it for a search: postcode.txt mapped,
// the post.csv beside it, and the signs post.csv gives of postcode.txt (in
// byte order, every line five-digit), trusted only for the size mapped.
// Portable; the window's workers, marlix-search and its converter open the
// data here and nowhere else.
//
//   OpenedData data(path, NeedsNames(rule, term1) ? NamesRead::kBeside : NamesRead::kNone);
//   if (data.file().open_error() != 0) ...
//   SearchFile(data.file(), data.Request(rule, term1, term2), sink);
#pragma once

#include <string>

#include "code_names.h"
#include "mapped_file.h"
#include "postcode_search.h"

namespace marlix {

enum class NamesRead {
  kNone,              // no post.csv: the search needs none of its names
  kBeside,            // post.csv read as a question asks (one search)
  kForManyQuestions,  // post.csv read whole and indexed (many addresses at once)
};

// True when a search by `rule` for `term1` takes something from post.csv: a
// code search its sorted sign, a name search its English names or 행정동.
bool NeedsNames(MatchRule rule, const Cp949View& term1);

class OpenedData {
 public:
  // Maps `data_file` (UTF-8) and, when it opened, reads the post.csv beside it
  // as `read` says.
  OpenedData(const std::string& data_file, NamesRead read);
  // The same with names given (a test's, or none).
  OpenedData(const std::string& data_file, CodeNames names);
  OpenedData(const OpenedData&) = delete;
  OpenedData& operator=(const OpenedData&) = delete;

  MappedFile& file() { return file_; }
  const MappedFile& file() const { return file_; }
  const CodeNames& names() const { return names_; }
  // post.csv's signs, for the file as mapped.
  bool sorted() const { return names_.TrustsOrderOf(file_.size()); }
  bool all_five_digit() const { return names_.TrustsAllFiveDigit(file_.size()); }

  // A search of this data: its names, and the signs where the rule may use
  // them (the order for a code search only). The terms' bytes must outlive it.
  SearchRequest Request(MatchRule rule, Cp949View term1, Cp949View term2 = {}) const;

 private:
  MappedFile file_;
  CodeNames names_;
};

}  // namespace marlix

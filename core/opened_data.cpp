#include "opened_data.h"

#include <utility>

#include "address_terms.h"

namespace marlix {

namespace {

CodeNames NamesBeside(const std::string& data_file, NamesRead read) {
  switch (read) {
    case NamesRead::kNone:
      return CodeNames();
    case NamesRead::kBeside:
      return CodeNames::Beside(data_file);
    case NamesRead::kForManyQuestions:
      return CodeNames::Beside(data_file).ForManyQuestions();
  }
  return CodeNames();
}

}  // namespace

bool NeedsNames(MatchRule rule, const Cp949View& term1) {
  return rule == MatchRule::kPostcode || (rule == MatchRule::kWords && WordsNeedNames(term1));
}

OpenedData::OpenedData(const std::string& data_file, NamesRead read) : file_(data_file.c_str()) {
  // Data that does not open is searched for nothing: its names are not read.
  if (file_.open_error() == 0) names_ = NamesBeside(data_file, read);
}

OpenedData::OpenedData(const std::string& data_file, CodeNames names)
    : file_(data_file.c_str()), names_(std::move(names)) {}

SearchRequest OpenedData::Request(MatchRule rule, Cp949View term1, Cp949View term2) const {
  SearchRequest request{rule, term1, term2, &names_};
  request.sorted = rule == MatchRule::kPostcode && sorted();
  request.five_digit_only = all_five_digit();
  return request;
}

}  // namespace marlix

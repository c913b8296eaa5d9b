// Many addresses looked up at once, as an order list holds them. Each address
// is read once into the words of a name search; then one pass over the data
// file, in two threads, finds by hash lookups of what the lines hold (a road
// and its building number, a 동 and its lot number, a word, a code) the lines
// that each address names exactly, and a verdict says how many codes fit.
// A wrong code is worse than none: one code is a match only when the address
// leaves no other. Portable; the CLI's `convert` and a window's list call it,
// off the window's thread. Text CP949.
//
//   OpenedData data(path, NamesRead::kForManyQuestions);
//   BatchOutcome out = ConvertAddresses(data, addresses,
//                                       [&](double done) { ShowProgress(done); return !cancelled; });
//   out.results[i].verdict, .codes, .candidates (data lines, the best first)
//   ResultFields(out.results[i], data.names()): the four fields a table shows and a CSV writes
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cp949_bytes.h"
#include "csv_table.h"
#include "postcode_search.h"

namespace marlix {

class CodeNames;
class OpenedData;

enum class AddressVerdict {
  kNone,        // 없음: no line fits
  kMatch,       // 일치: the lines that fit have one code
  kCandidates,  // 후보 N: they have N codes; the first candidate is the best
};

// At most this many candidates are kept for an address (the count is whole).
inline constexpr std::size_t kMaxCandidates = 50;

struct AddressResult {
  AddressVerdict verdict = AddressVerdict::kNone;
  // How many codes fit.
  std::size_t codes = 0;
  // The data lines that fit, one per code (the first that fits), best first:
  // those that hold the address's detail, then file order.
  std::vector<Cp949String> candidates;
};

struct BatchOutcome {
  SearchStatus status = SearchStatus::kOk;
  int error = 0;           // errno of a failed open or read
  bool cancelled = false;  // the progress callback said stop: no results
  // One per address, in the addresses' order.
  std::vector<AddressResult> results;
};

// Called on the calling thread now and then with the share done, 0 to 1;
// returning false cancels the conversion.
using BatchProgress = std::function<bool(double)>;

// The verdict of each address (CP949; an empty one fits nothing) over the data
// opened; its names are the data set's English names and 행정동, best read
// for many questions so that each address costs a lookup. The addresses are
// read as the name search reads them (the detail after the number included).
// The data serves one conversion.
BatchOutcome ConvertAddresses(OpenedData& data, const std::vector<Cp949String>& addresses,
                              const BatchProgress& progress = {});

// The names of the four fields that a converted row gets, after its own.
inline constexpr std::array<std::string_view, 4> kResultHeader = {"우편번호", "도로명주소", "영문주소", "결과"};

// Those fields of a result, UTF-8: the code, the data line's address and its
// English address (empty where post.csv does not give it) of candidate `pick`
// (the best unless a user picked another), and the verdict: 일치, 후보 N or
// 없음 (the three others empty).
TableRow ResultFields(const AddressResult& result, const CodeNames& names, std::size_t pick = 0);

}  // namespace marlix

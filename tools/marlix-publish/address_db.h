// Korea Post's 지역별 주소 DB made into data lines: a row's fields, the line
// of one road address (its official written form, then its lot-number form),
// rows of one road address merged, and the 254-byte limit of a data line.
// All text here is CP949; what comes in as UTF-8 is converted on parsing.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cp949_text.h"
#include "line_form.h"

namespace marlix::publish {

inline constexpr std::size_t kFieldCount = 26;
// Each text field of a line is at most one line long, so its length fits a byte.
static_assert(kDataLineMaxBytes <= 255);

enum class SourceEncoding { kUtf8, kCp949 };

// The encoding of a source whose first line (without its line end) is
// `header`, or nothing when that is not the DB's header row.
std::optional<SourceEncoding> EncodingOfHeader(std::string_view header, const Cp949Tables& text);

// The fields of one row that its data line is made of, trimmed, in CP949.
struct AddressRow {
  std::string_view code;           // 우편번호, five digits
  std::string_view sido;           // 시도
  std::string_view sigungu;        // 시군구, empty for 세종
  std::string_view eupmyeon;       // 읍면, empty in 동 areas
  std::string_view road;           // 도로명
  bool underground = false;        // 지하여부
  std::string_view building_main;  // 건물번호본번
  std::string_view building_sub;   // 건물번호부번, "0" when none
  std::string_view bulk_name;      // 다량배달처명
  std::string_view building_name;  // 시군구용건물명
  std::string_view dong;           // 법정동명, empty in 읍/면 areas
  std::string_view ri;             // 리명
  bool mountain = false;           // 산여부
  std::string_view lot_main;       // 지번본번
  std::string_view lot_sub;        // 지번부번, "0" when none
  // For post.csv only, never in a line.
  std::string_view sido_en;      // 시도영문
  std::string_view sigungu_en;   // 시군구영문
  std::string_view eupmyeon_en;  // 읍면영문
  std::string_view road_en;      // 도로명영문
  std::string_view hdong;        // 행정동명, may be empty
};

enum class RowFault { kNone, kFieldCount, kCode, kNumber, kMissing, kNotUtf8, kNotCp949, kControl, kTooLong };

struct RowProblem {
  RowFault fault = RowFault::kNone;
  std::size_t field = 0;  // the field at fault, from 0; or the number of fields found
};

// Splits one row (without its line end) into `row`; converted text goes to
// `scratch`, so `row` is good until the next call with it.
RowProblem ParseRow(std::string_view line, SourceEncoding encoding, const Cp949Tables& text, std::string& scratch,
                    AddressRow& row);

// The problem in words, with the field's name, in CP949.
std::string Describe(const RowProblem& problem);

// Distinct texts, each stored once, numbered from 0 as they first come:
// millions of rows share a few hundred thousand English names and 행정동.
class TextPool {
 public:
  std::uint32_t Id(std::string_view text);
  std::string_view operator[](std::uint32_t id) const { return texts_[id]; }

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr;
  std::size_t free_bytes_ = 0;
  std::unordered_map<std::string_view, std::uint32_t> ids_;
  std::vector<std::string_view> texts_;
  std::vector<std::uint32_t> recent_ = std::vector<std::uint32_t>(4096);  // by hash: id + 1, or 0
};

// Every road address of a data set: rows are copied into one arena as they
// come, then sorted, merged and written out as lines in order.
class AddressSet {
 public:
  AddressSet() = default;
  AddressSet(const AddressSet&) = delete;
  AddressSet& operator=(const AddressSet&) = delete;

  void Add(const AddressRow& row);
  std::size_t rows() const { return records_.size(); }

  struct Totals {
    std::size_t lines = 0;
    std::size_t merged = 0;  // rows that went into a line made from an earlier row
    std::size_t cut = 0;     // lines whose building names or lot forms did not all fit
  };

  // A Korean name and its English one (empty when the DB has none).
  struct Named {
    std::string_view korean;
    std::string_view english;
  };

  // What post.csv says of one code: the 시도 and 시군구 of most of its rows
  // (시군구 empty for 세종) with their English names, its distinct 행정동,
  // 읍면 and road names, and its buildings (rows). The lists are in byte order.
  struct CodeSummary {
    std::uint32_t code = 0;
    std::string_view sido;
    std::string_view sigungu;
    std::string_view sido_en;
    std::string_view sigungu_en;
    std::vector<std::string_view> hdongs;
    std::vector<Named> eupmyeons;
    std::vector<Named> roads;
    std::size_t buildings = 0;
  };

  // Receives each line, without its line end.
  using LineSink = std::function<void(std::string_view line)>;
  // Receives each code's summary, after the code's lines.
  using CodeSink = std::function<void(const CodeSummary& code)>;

  // Sorts and merges the rows and hands over every line in order: by code,
  // then by the line's bytes; and each code's summary once its lines are out.
  Totals Write(const LineSink& lines, const CodeSink& codes);

 private:
  // One row in the arena: the line's head (the code and the road address),
  // then the 법정동, the two building names and the lot form, CP949; its
  // English names and 행정동 by their number in the pools. Kept at 32 bytes:
  // there are millions.
  struct Record {
    const char* text;
    std::uint32_t code;
    std::uint32_t english;  // in english_: "시도|시군구|읍면|도로명"
    std::uint32_t hdong;    // in hdongs_
    std::uint16_t lot;
    std::uint8_t sido, sigungu, eupmyeon, road, number, dong, name, bulk;

    std::size_t head() const;
  };
  class LineMaker;

  char* Reserve(std::size_t bytes);

  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t block_used_ = 0;
  std::vector<Record> records_;
  TextPool english_;
  TextPool hdongs_;
  std::string key_;  // the English names of the row being added
};

// post.csv's row of one code, without its line end (its header and sorted
// sign are code_names.h's).
std::string CsvRow(const AddressSet::CodeSummary& code);

// The lines of postcode.txt as they are written: their bytes with CR LF ends,
// their number, and whether each is at least the one before (memcmp of whole
// lines), which lets a reader search by code in halves.
class LineOrder {
 public:
  void Add(std::string_view line);
  bool sorted() const { return sorted_; }
  std::uint64_t bytes() const { return bytes_; }
  std::uint64_t lines() const { return lines_; }
  std::uint64_t five_digit_lines() const { return five_digit_lines_; }

 private:
  std::string last_;
  std::uint64_t five_digit_lines_ = 0;
  bool sorted_ = true;
  std::uint64_t bytes_ = 0;
  std::uint64_t lines_ = 0;
};

// The distinct codes among data lines of either form.
class CodeTally {
 public:
  void Count(std::string_view line);
  std::size_t distinct() const;

 private:
  std::bitset<100000> five_digit_;
  std::bitset<1000000> six_digit_;
};

}  // namespace marlix::publish

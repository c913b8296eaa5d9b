// Fuzzes the converter's input: any bytes read as a table (either encoding,
// either separator), written back as CSV and read again to the same rows; the
// first field of each row converted over a small data file, each verdict
// agreeing with its candidates and each candidate a line the name search finds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "address_batch.h"
#include "code_names.h"
#include "csv_table.h"
#include "fuzz_support.h"
#include "opened_data.h"
#include "postcode_search.h"
#include "text.h"

using marlix::fuzz::Check;

namespace {

// Written once: a few five-digit lines and an old one, CP949.
const std::string& DataFile() {
  static const std::string path = [] {
    std::string p = "/tmp/marlix-csv-fuzz-" + std::to_string(reinterpret_cast<std::uintptr_t>(&p)) + ".txt";
    const std::string lines = marlix::Cp949FromUtf8(
                                  "06315 서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10\r\n"
                                  "06316 서울특별시 강남구 논현로8길 7 (개포동) 개포동 1190\r\n"
                                  "34000 대전광역시 중구 중앙로 12 (은행동) 은행동 1\r\n"
                                  "41900 대구광역시 중구 중앙로 12 (동인동1가) 동인동1가 2\r\n"
                                  "135-806 서울 강남구 개포1동 경남아파트\r\n")
                                  .bytes();
    if (std::FILE* f = std::fopen(p.c_str(), "wb")) {
      std::fwrite(lines.data(), 1, lines.size(), f);
      std::fclose(f);
    }
    return p;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string text = marlix::TextAsUtf8(bytes);
  const char separator = marlix::SeparatorOf(text);
  Check(separator == ',' || separator == '\t', "a separator that is neither comma nor tab");
  const std::vector<marlix::TableRow> rows = marlix::ReadTable(text, separator);

  std::string csv;
  for (const marlix::TableRow& row : rows) {
    Check(!row.empty(), "a row without a field");
    marlix::AppendCsvRow(csv, row, "\r\n");
  }
  Check(marlix::ReadTable(csv, ',') == rows, "the written CSV reads back as other rows");
  Check(marlix::ReadLines(text).size() <= static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1,
        "more lines than line feeds");

  std::vector<marlix::Cp949String> addresses;
  for (const marlix::TableRow& row : rows) {
    if (addresses.size() == 64) break;
    bool lossless = true;
    marlix::Cp949String cp949 = marlix::Cp949FromUtf8(row.front(), &lossless);
    addresses.push_back(lossless ? cp949 : marlix::Cp949String());
  }
  marlix::OpenedData opened(DataFile(), marlix::CodeNames());
  const marlix::CodeNames& names = opened.names();
  const marlix::BatchOutcome outcome = marlix::ConvertAddresses(opened, addresses);
  Check(outcome.status == marlix::SearchStatus::kOk && !outcome.cancelled, "the conversion failed");
  Check(outcome.results.size() == addresses.size(), "a result per address");
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    const marlix::AddressResult& r = outcome.results[i];
    switch (r.verdict) {
      case marlix::AddressVerdict::kNone:
        Check(r.codes == 0 && r.candidates.empty(), "없음 with candidates");
        break;
      case marlix::AddressVerdict::kMatch:
        Check(r.codes == 1 && r.candidates.size() == 1, "일치 with other than one code");
        break;
      case marlix::AddressVerdict::kCandidates:
        Check(r.codes >= 2 && r.candidates.size() >= 2, "후보 with under two codes");
        break;
    }
    const marlix::LineMatcher matcher({marlix::MatchRule::kWords, addresses[i].view(), {}, &names});
    for (const marlix::Cp949String& line : r.candidates)
      Check(matcher.Matches(line.bytes()), "a candidate the name search does not find");
  }
  return 0;
}

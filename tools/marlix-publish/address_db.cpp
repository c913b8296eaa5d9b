#include "address_db.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "building_number.h"
#include "data_files.h"
#include "text.h"

namespace marlix::publish {

namespace {

// The header row as Korea Post writes it; also the fields' names in messages.
constexpr std::string_view kHeaderRow =
    "우편번호|시도|시도영문|시군구|시군구영문|읍면|읍면영문|도로명코드|도로명|도로명영문|지하여부|"
    "건물번호본번|건물번호부번|건물관리번호|다량배달처명|시군구용건물명|법정동코드|법정동명|리명|행정동명|"
    "산여부|지번본번|읍면동일련번호|지번부번|구우편번호|우편번호일련번호";

enum FieldIndex : std::size_t {
  kCodeField = 0,
  kSidoField = 1,
  kSidoEnField = 2,
  kSigunguField = 3,
  kSigunguEnField = 4,
  kEupmyeonField = 5,
  kEupmyeonEnField = 6,
  kRoadField = 8,
  kRoadEnField = 9,
  kUndergroundField = 10,
  kBuildingMainField = 11,
  kBuildingSubField = 12,
  kBulkNameField = 14,
  kBuildingNameField = 15,
  kDongField = 17,
  kRiField = 18,
  kHdongField = 19,
  kMountainField = 20,
  kLotMainField = 21,
  kLotSubField = 23,
};

// The text fields: first those of the line, then those only post.csv shows.
constexpr std::size_t kLineTextFields = 8;
constexpr std::array<std::size_t, 13> kTextFields = {
    kSidoField, kSigunguField, kEupmyeonField,  kRoadField,       kBulkNameField, kBuildingNameField, kDongField,
    kRiField,   kSidoEnField,  kSigunguEnField, kEupmyeonEnField, kRoadEnField,   kHdongField};

constexpr std::string_view kBom = "\xEF\xBB\xBF";
// The Korean the lines and post.csv are written with, in the data's CP949.
const std::string kUnderground = Cp949FromUtf8("지하 ").bytes();
const std::string kMountain = Cp949FromUtf8("산").bytes();
// The header row in CP949, as a source's header is compared once converted.
const std::string kHeaderRowCp949 = Cp949FromUtf8(kHeaderRow).bytes();
constexpr std::size_t kBlockBytes = std::size_t{32} << 20;
constexpr std::size_t kPoolBlockBytes = std::size_t{1} << 20;
// The English names of a row, in one pooled text.
constexpr char kEnglishSeparator = '|';
enum EnglishPart : std::size_t { kSidoEn, kSigunguEn, kEupmyeonEn, kRoadEn, kEnglishParts };
constexpr std::size_t kNumberMaxDigits = 9;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Splits at '|'; the number of fields found (only the first kFieldCount are kept).
std::size_t Split(std::string_view line, std::array<std::string_view, kFieldCount>& fields) {
  std::size_t n = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t bar = line.find('|', start);
    if (n < kFieldCount) fields[n] = line.substr(start, bar == std::string_view::npos ? bar : bar - start);
    ++n;
    if (bar == std::string_view::npos) return n;
    start = bar + 1;
  }
}

bool IsNumber(std::string_view s) { return s.size() <= kNumberMaxDigits && IsNumberPart(s); }

// Printable ASCII, the same bytes in UTF-8 and CP949: English names are, and
// this plain test of them costs less than converting or checking them.
bool IsPlainAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c - 0x20) < 0x5F; });
}

// A 부번 of 0 (or none) is not written.
bool IsNone(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c == '0'; });
}

std::size_t NumberBytes(const AddressRow& row) {
  return (row.underground ? kUnderground.size() : 0) + row.building_main.size() +
         (IsNone(row.building_sub) ? 0 : 1 + row.building_sub.size());
}

std::string_view LotPlace(const AddressRow& row) {
  if (!row.dong.empty()) return row.dong;
  return row.ri.empty() ? row.eupmyeon : row.ri;
}

std::size_t LotBytes(const AddressRow& row) {
  const std::string_view place = LotPlace(row);
  if (place.empty() || IsNone(row.lot_main)) return 0;
  return place.size() + 1 + (row.mountain ? kMountain.size() : 0) + row.lot_main.size() +
         (IsNone(row.lot_sub) ? 0 : 1 + row.lot_sub.size());
}

// 시도 [시군구] [읍면] 도로명 [지하 ]본번[-부번] (법정동): what no cut may shorten.
std::size_t RoadAddressBytes(const AddressRow& row) {
  return row.sido.size() + (row.sigungu.empty() ? 0 : 1 + row.sigungu.size()) +
         (row.eupmyeon.empty() ? 0 : 1 + row.eupmyeon.size()) + 1 + row.road.size() + 1 + NumberBytes(row) +
         (row.dong.empty() ? 0 : 3 + row.dong.size());
}

void Put(char*& out, std::string_view text) {
  if (text.empty()) return;
  std::memcpy(out, text.data(), text.size());
  out += text.size();
}

void PutSpaced(char*& out, std::string_view text) {
  if (text.empty()) return;
  *out++ = ' ';
  Put(out, text);
}

void AppendCsvField(std::string& out, std::string_view text) {
  // ',' and '"' are never the second byte of a CP949 character.
  if (text.find_first_of(",\"") == std::string_view::npos) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

// One (시도, 시군구) of a code, its rows and its English names.
struct District {
  std::string_view sido;
  std::string_view sigungu;
  std::size_t rows;
  std::string_view sido_en;
  std::string_view sigungu_en;
};

std::array<std::string_view, kEnglishParts> EnglishParts(std::string_view pooled) {
  std::array<std::string_view, kEnglishParts> parts;
  for (std::string_view& part : parts) {
    const std::size_t bar = pooled.find(kEnglishSeparator);
    part = pooled.substr(0, bar);
    pooled.remove_prefix(bar == std::string_view::npos ? pooled.size() : bar + 1);
  }
  return parts;
}

// Sorts names by the Korean and keeps one of each, with the greatest English:
// a known English wins over an unknown (empty) one.
void KeepDistinct(std::vector<AddressSet::Named>& names) {
  auto less = [](const AddressSet::Named& a, const AddressSet::Named& b) {
    return std::tie(a.korean, a.english) < std::tie(b.korean, b.english);
  };
  std::sort(names.begin(), names.end(), less);
  auto out = names.begin();
  for (auto it = names.begin(); it != names.end(); ++it) {
    if (std::next(it) == names.end() || std::next(it)->korean != it->korean) *out++ = *it;
  }
  names.erase(out, names.end());
}

// Items joined by ';', each written by `put`, as one CSV field.
template <typename Item, typename Put>
void AppendListField(std::string& out, const std::vector<Item>& items, Put put) {
  std::string joined;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) joined += ';';
    put(joined, items[i]);
  }
  AppendCsvField(out, joined);
}

void AppendJoined(std::string& out, const std::vector<std::string_view>& items, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) out += ", ";
    out += items[i];
  }
}

}  // namespace

std::optional<SourceEncoding> EncodingOfHeader(std::string_view header, const Cp949Tables& text) {
  auto names_match = [](std::string_view cp949) {
    std::array<std::string_view, kFieldCount> fields;
    std::array<std::string_view, kFieldCount> names;
    Split(kHeaderRowCp949, names);
    if (Split(cp949, fields) != kFieldCount) return false;
    for (std::size_t i = 0; i < kFieldCount; ++i) {
      if (Trim(fields[i]) != names[i]) return false;
    }
    return true;
  };
  const bool bom = header.starts_with(kBom);
  if (bom) header.remove_prefix(kBom.size());
  std::string converted;
  if (text.AppendFromUtf8(header, converted) == TextFault::kNone && names_match(converted)) {
    return SourceEncoding::kUtf8;
  }
  if (!bom && names_match(header)) return SourceEncoding::kCp949;
  return std::nullopt;
}

RowProblem ParseRow(std::string_view line, SourceEncoding encoding, const Cp949Tables& text, std::string& scratch,
                    AddressRow& row) {
  std::array<std::string_view, kFieldCount> f;
  const std::size_t found = Split(line, f);
  if (found != kFieldCount) return {RowFault::kFieldCount, found};
  for (std::string_view& field : f) field = Trim(field);

  if (f[kCodeField].size() != 5 || !IsNumber(f[kCodeField])) return {RowFault::kCode, kCodeField};
  for (std::size_t i : {kUndergroundField, kMountainField}) {
    if (!f[i].empty() && f[i] != "0" && f[i] != "1") return {RowFault::kNumber, i};
  }
  if (!IsNumber(f[kBuildingMainField])) return {RowFault::kNumber, kBuildingMainField};
  for (std::size_t i : {kBuildingSubField, kLotMainField, kLotSubField}) {
    if (!f[i].empty() && !IsNumber(f[i])) return {RowFault::kNumber, i};
  }

  if (encoding == SourceEncoding::kUtf8) {
    // The CP949 form is never longer than the UTF-8 one, so the converted
    // fields fit in this room and their views stay good.
    scratch.clear();
    scratch.reserve(line.size());
    for (std::size_t i : kTextFields) {
      if (IsPlainAscii(f[i])) continue;
      const std::size_t start = scratch.size();
      const TextFault fault = text.AppendFromUtf8(f[i], scratch);
      if (fault == TextFault::kNotUtf8) return {RowFault::kNotUtf8, i};
      if (fault == TextFault::kNotCp949) return {RowFault::kNotCp949, i};
      if (fault == TextFault::kControl) return {RowFault::kControl, i};
      f[i] = std::string_view(scratch).substr(start);
    }
  } else {
    for (std::size_t i : kTextFields) {
      if (IsPlainAscii(f[i])) continue;
      const TextFault fault = text.Check(f[i]);
      if (fault == TextFault::kNotCp949) return {RowFault::kNotCp949, i};
      if (fault == TextFault::kControl) return {RowFault::kControl, i};
    }
  }
  for (std::size_t t = 0; t < kLineTextFields; ++t) {
    if (f[kTextFields[t]].size() > kDataLineMaxBytes) return {RowFault::kTooLong, kTextFields[t]};
  }
  for (std::size_t i : {kSidoField, kRoadField}) {
    if (f[i].empty()) return {RowFault::kMissing, i};
  }

  row.code = f[kCodeField];
  row.sido = f[kSidoField];
  row.sigungu = f[kSigunguField];
  row.eupmyeon = f[kEupmyeonField];
  row.road = f[kRoadField];
  row.underground = f[kUndergroundField] == "1";
  row.building_main = f[kBuildingMainField];
  row.building_sub = f[kBuildingSubField];
  row.bulk_name = f[kBulkNameField];
  row.building_name = f[kBuildingNameField];
  row.dong = f[kDongField];
  row.ri = f[kRiField];
  row.mountain = f[kMountainField] == "1";
  row.lot_main = f[kLotMainField];
  row.lot_sub = f[kLotSubField];
  row.sido_en = f[kSidoEnField];
  row.sigungu_en = f[kSigunguEnField];
  row.eupmyeon_en = f[kEupmyeonEnField];
  row.road_en = f[kRoadEnField];
  row.hdong = f[kHdongField];
  if (6 + RoadAddressBytes(row) > kDataLineMaxBytes) return {RowFault::kTooLong, kRoadField};
  return {};
}

std::string Describe(const RowProblem& problem) {
  std::array<std::string_view, kFieldCount> names;
  Split(kHeaderRow, names);
  const std::string field(problem.field < kFieldCount ? names[problem.field] : std::string_view());
  switch (problem.fault) {
    case RowFault::kNone:
      return "good";
    case RowFault::kFieldCount:
      return std::to_string(problem.field) + " fields, " + std::to_string(kFieldCount) + " expected";
    case RowFault::kCode:
      return field + " is not five digits";
    case RowFault::kNumber:
      return field + " is not a number";
    case RowFault::kMissing:
      return field + " is empty";
    case RowFault::kNotUtf8:
      return field + " is not UTF-8";
    case RowFault::kNotCp949:
      return field + " holds a character that CP949 cannot hold";
    case RowFault::kControl:
      return field + " holds a control character";
    case RowFault::kTooLong:
      return field + " makes the line longer than " + std::to_string(kDataLineMaxBytes) + " bytes";
  }
  return {};
}

std::uint32_t TextPool::Id(std::string_view text) {
  // A district's rows come together and share a few thousand texts: these
  // are found in the small table of recent ones, which stays in the cache.
  const std::size_t hash = std::hash<std::string_view>{}(text);
  std::uint32_t& recent = recent_[hash % recent_.size()];
  if (recent > 0 && texts_[recent - 1] == text) return recent - 1;
  if (const auto found = ids_.find(text); found != ids_.end()) {
    recent = found->second + 1;
    return found->second;
  }
  if (text.size() > free_bytes_) {
    free_bytes_ = std::max(kPoolBlockBytes, text.size());
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(free_bytes_));
    free_ = blocks_.back().get();
  }
  if (!text.empty()) std::memcpy(free_, text.data(), text.size());
  const std::string_view kept(free_, text.size());
  free_ += text.size();
  free_bytes_ -= text.size();
  const auto id = static_cast<std::uint32_t>(texts_.size());
  ids_.emplace(kept, id);
  texts_.push_back(kept);
  recent = id + 1;
  return id;
}

std::size_t AddressSet::Record::head() const {
  return 6 + sido + (sigungu == 0 ? 0 : 1 + sigungu) + (eupmyeon == 0 ? 0 : 1 + eupmyeon) + 1 + road + 1 + number;
}

char* AddressSet::Reserve(std::size_t bytes) {
  if (blocks_.empty() || block_used_ + bytes > kBlockBytes) {
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlockBytes));
    block_used_ = 0;
  }
  char* at = blocks_.back().get() + block_used_;
  block_used_ += bytes;
  return at;
}

void AddressSet::Add(const AddressRow& row) {
  static_assert(sizeof(Record) <= 32, "every byte more is 6.45 million bytes for the whole country");
  Record r{};
  for (char c : row.code) r.code = r.code * 10 + static_cast<std::uint32_t>(c - '0');
  // ParseRow keeps each text of the line within kDataLineMaxBytes.
  auto size8 = [](std::size_t n) { return static_cast<std::uint8_t>(n); };
  r.sido = size8(row.sido.size());
  r.sigungu = size8(row.sigungu.size());
  r.eupmyeon = size8(row.eupmyeon.size());
  r.road = size8(row.road.size());
  r.number = size8(NumberBytes(row));
  r.dong = size8(row.dong.size());
  r.name = size8(row.building_name.size());
  r.bulk = size8(row.bulk_name.size());
  r.lot = static_cast<std::uint16_t>(LotBytes(row));
  key_.assign(row.sido_en);
  for (std::string_view part : {row.sigungu_en, row.eupmyeon_en, row.road_en}) {
    key_ += kEnglishSeparator;
    key_ += part;
  }
  r.english = english_.Id(key_);
  r.hdong = hdongs_.Id(row.hdong);

  char* out = Reserve(r.head() + r.dong + r.name + r.bulk + r.lot);
  r.text = out;
  Put(out, row.code);
  PutSpaced(out, row.sido);
  PutSpaced(out, row.sigungu);
  PutSpaced(out, row.eupmyeon);
  PutSpaced(out, row.road);
  *out++ = ' ';
  if (row.underground) Put(out, kUnderground);
  Put(out, row.building_main);
  if (!IsNone(row.building_sub)) {
    *out++ = '-';
    Put(out, row.building_sub);
  }
  Put(out, row.dong);
  Put(out, row.building_name);
  Put(out, row.bulk_name);
  if (r.lot > 0) {
    Put(out, LotPlace(row));
    *out++ = ' ';
    if (row.mountain) Put(out, kMountain);
    Put(out, row.lot_main);
    if (!IsNone(row.lot_sub)) {
      *out++ = '-';
      Put(out, row.lot_sub);
    }
  }
  records_.push_back(r);
}

// Makes the lines of one code and hands them over in byte order.
class AddressSet::LineMaker {
 public:
  // The line of the records [first, last), rows of one road address.
  void Add(const Record* first, const Record* last, Totals& totals) {
    names_.clear();
    lots_.clear();
    for (const Record* r = first; r != last; ++r) {
      const char* items = r->text + r->head() + r->dong;
      if (r->name > 0) names_.emplace_back(items, r->name);
      if (r->bulk > 0) names_.emplace_back(items + r->name, r->bulk);
      if (r->lot > 0) lots_.emplace_back(items + r->name + r->bulk, r->lot);
    }
    for (std::vector<std::string_view>* items : {&names_, &lots_}) {
      std::sort(items->begin(), items->end());
      items->erase(std::unique(items->begin(), items->end()), items->end());
    }
    const std::string_view head(first->text, first->head());
    const std::string_view dong(first->text + head.size(), first->dong);

    // Building names and lot forms go from the end until the line fits; the
    // first lot form and the first name stay longest.
    std::size_t names = names_.size();
    std::size_t lots = lots_.size();
    std::size_t name_bytes = 0;
    std::size_t lot_bytes = 0;
    for (std::string_view n : names_) name_bytes += n.size();
    for (std::string_view l : lots_) lot_bytes += l.size();
    auto length = [&] {
      const std::size_t in_parens = (dong.empty() ? 0 : 1) + names;
      return head.size() + (in_parens == 0 ? 0 : 3 + dong.size() + name_bytes + 2 * (in_parens - 1)) +
             (lots == 0 ? 0 : 1 + lot_bytes + 2 * (lots - 1));
    };
    while (length() > kDataLineMaxBytes) {
      if (lots > 1 || (names == 0 && lots == 1)) {
        lot_bytes -= lots_[--lots].size();
      } else if (names > 0) {
        name_bytes -= names_[--names].size();
      } else {
        break;  // the road address alone fits, as ParseRow made sure
      }
    }
    if (names < names_.size() || lots < lots_.size()) ++totals.cut;

    Made made{lines_.size(), 0};
    lines_ += head;
    if (!dong.empty() || names > 0) {
      lines_ += " (";
      lines_ += dong;
      if (!dong.empty() && names > 0) lines_ += ", ";
      AppendJoined(lines_, names_, names);
      lines_ += ')';
    }
    if (lots > 0) {
      lines_ += ' ';
      AppendJoined(lines_, lots_, lots);
    }
    made.line_len = lines_.size() - made.line;
    made_.push_back(made);
  }

  void Flush(const LineSink& sink) {
    auto line = [this](const Made& m) { return std::string_view(lines_).substr(m.line, m.line_len); };
    auto less = [&](const Made& a, const Made& b) { return line(a) < line(b); };
    if (!std::is_sorted(made_.begin(), made_.end(), less)) std::sort(made_.begin(), made_.end(), less);
    for (const Made& m : made_) sink(line(m));
    made_.clear();
    lines_.clear();
  }

 private:
  struct Made {
    std::size_t line, line_len;
  };
  std::vector<std::string_view> names_;
  std::vector<std::string_view> lots_;
  std::string lines_;
  std::vector<Made> made_;
};

AddressSet::Totals AddressSet::Write(const LineSink& lines, const CodeSink& codes) {
  auto head = [](const Record& r) { return std::string_view(r.text + 6, r.head() - 6); };
  auto dong = [](const Record& r) { return std::string_view(r.text + r.head(), r.dong); };
  std::sort(records_.begin(), records_.end(), [&](const Record& a, const Record& b) {
    if (a.code != b.code) return a.code < b.code;
    const int by_head = head(a).compare(head(b));
    return by_head != 0 ? by_head < 0 : dong(a) < dong(b);
  });
  auto same_address = [&](const Record& a, const Record& b) {
    return a.code == b.code && head(a) == head(b) && dong(a) == dong(b);
  };

  // The parts of a record's head: 시도, 시군구, 읍면, 도로명.
  auto sido = [](const Record& r) { return std::string_view(r.text + 6, r.sido); };
  auto sigungu = [](const Record& r) {
    return std::string_view(r.text + 6 + r.sido + (r.sigungu == 0 ? 0 : 1), r.sigungu);
  };
  auto eupmyeon = [](const Record& r) {
    return std::string_view(r.text + 6 + r.sido + (r.sigungu == 0 ? 0 : 1 + r.sigungu) + 1, r.eupmyeon);
  };
  auto road_at = [](const Record& r) {
    return 6 + r.sido + (r.sigungu == 0 ? 0 : 1 + r.sigungu) + (r.eupmyeon == 0 ? 0 : 1 + r.eupmyeon) + 1;
  };
  auto road = [&](const Record& r) { return std::string_view(r.text + road_at(r), r.road); };
  // 시도 [시군구] [읍면] 도로명: rows alike in it and in their English names
  // name nothing new.
  auto place = [&](const Record& r) { return std::string_view(r.text + 6, road_at(r) + r.road - 6); };
  std::vector<District> districts;
  CodeSummary code;
  // The summary of the code of the records [first, last).
  auto summary = [&](const Record* first, const Record* last) -> const CodeSummary& {
    districts.clear();
    code.hdongs.clear();
    code.eupmyeons.clear();
    code.roads.clear();
    for (const Record* r = first; r != last; ++r) {
      const std::string_view s = sido(*r);
      const std::string_view g = sigungu(*r);
      auto d = std::find_if(districts.begin(), districts.end(),
                            [&](const District& x) { return x.sido == s && x.sigungu == g; });
      if (d == districts.end()) {
        districts.push_back({s, g, 0, {}, {}});
        d = districts.end() - 1;
      }
      ++d->rows;
      // Rows come sorted by their place: most repeat the one before.
      const Record* before = r == first ? nullptr : r - 1;
      if (before == nullptr || r->english != before->english || place(*r) != place(*before)) {
        const auto english = EnglishParts(english_[r->english]);
        // Of rows that differ, the greatest English: a known one wins over none.
        d->sido_en = std::max(d->sido_en, english[kSidoEn]);
        d->sigungu_en = std::max(d->sigungu_en, english[kSigunguEn]);
        code.roads.push_back({road(*r), english[kRoadEn]});
        if (r->eupmyeon > 0) code.eupmyeons.push_back({eupmyeon(*r), english[kEupmyeonEn]});
      }
      if (before == nullptr || r->hdong != before->hdong) {
        if (const std::string_view h = hdongs_[r->hdong]; !h.empty()) code.hdongs.push_back(h);
      }
    }
    KeepDistinct(code.roads);
    KeepDistinct(code.eupmyeons);
    std::sort(code.hdongs.begin(), code.hdongs.end());
    code.hdongs.erase(std::unique(code.hdongs.begin(), code.hdongs.end()), code.hdongs.end());
    // The district with most rows; of equals, the first in byte order.
    const District* most = &districts.front();
    for (const District& d : districts) {
      if (d.rows > most->rows ||
          (d.rows == most->rows && std::tie(d.sido, d.sigungu) < std::tie(most->sido, most->sigungu))) {
        most = &d;
      }
    }
    code.code = first->code;
    code.sido = most->sido;
    code.sigungu = most->sigungu;
    code.sido_en = most->sido_en;
    code.sigungu_en = most->sigungu_en;
    code.buildings = static_cast<std::size_t>(last - first);
    return code;
  };

  Totals totals;
  LineMaker maker;
  const Record* all = records_.data();
  std::size_t code_first = 0;
  for (std::size_t i = 0, n = records_.size(); i < n;) {
    std::size_t j = i + 1;
    while (j < n && same_address(all[i], all[j])) ++j;
    maker.Add(all + i, all + j, totals);
    ++totals.lines;
    totals.merged += j - i - 1;
    if (j == n || all[j].code != all[i].code) {
      maker.Flush(lines);
      codes(summary(all + code_first, all + j));
      code_first = j;
    }
    i = j;
  }
  return totals;
}

std::string CsvRow(const AddressSet::CodeSummary& code) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%05u", static_cast<unsigned>(code.code % 100000));
  std::string csv(digits);
  csv += ',';
  AppendCsvField(csv, code.sido);
  csv += ',';
  AppendCsvField(csv, code.sigungu);
  csv += ',';
  csv += std::to_string(code.roads.size());
  csv += ',';
  csv += std::to_string(code.buildings);
  csv += ',';
  AppendCsvField(csv, code.sido_en);
  csv += ',';
  // 세종 has no 시군구, so no English one either.
  if (!code.sigungu.empty()) AppendCsvField(csv, code.sigungu_en);
  csv += ',';
  AppendListField(csv, code.hdongs, [](std::string& out, std::string_view h) { out += h; });
  auto named = [](std::string& out, const AddressSet::Named& n) {
    out += n.korean;
    out += '=';
    out += n.english;
  };
  for (const std::vector<AddressSet::Named>* names : {&code.eupmyeons, &code.roads}) {
    csv += ',';
    AppendListField(csv, *names, named);
  }
  return csv;
}

void LineOrder::Add(std::string_view line) {
  // string_view compares as memcmp does: bytes as unsigned, a prefix first.
  if (sorted_ && lines_ > 0 && line < std::string_view(last_)) sorted_ = false;
  if (sorted_) last_.assign(line);
  bytes_ += line.size() + 2;  // CR LF
  ++lines_;
  if (PublishedFormOf(line) == LineForm::kFiveDigit) ++five_digit_lines_;
}

void CodeTally::Count(std::string_view line) {
  const LineForm form = PublishedFormOf(line);
  std::size_t value = 0;
  for (char c : line.substr(0, FieldsOf(line).code_bytes)) {
    if (c != '-') value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  if (form == LineForm::kFiveDigit) five_digit_[value] = true;
  if (form == LineForm::kSixDigit) six_digit_[value] = true;
}

std::size_t CodeTally::distinct() const { return five_digit_.count() + six_digit_.count(); }

}  // namespace marlix::publish

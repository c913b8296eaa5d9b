#include "data_command.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "address_db.h"
#include "code_names.h"
#include "command_util.h"
#include "data_files.h"
#include "db_sources.h"
#include "output_file.h"
#include "text.h"

namespace publish = marlix::publish;
using publish::OutputFile;

const char kDataUsage[] = "  marlix-publish data [--version TEXT] [--keep-lines FILE] --out DIR SOURCE...\n";

namespace {

using publish::Fail;
using publish::kExitDone;
constexpr std::size_t kBadRowsShown = 10;

// Plain ASCII.
constexpr char kDataHelp[] =
    "\n"
    "Turns Korea Post's address DB by region (zipcode_DB.zip) into the service's\n"
    "data files postcode.txt, post.csv and postver.txt (CP949, CR LF) in DIR.\n"
    "\n"
    "  SOURCE            a text file of the DB (UTF-8 with or without a byte-order\n"
    "                    mark, or CP949), or zipcode_DB.zip itself; several make one\n"
    "                    data set\n"
    "  --out DIR         where the three files go (made when missing); each is\n"
    "                    written under a temporary name and renamed into place once\n"
    "                    all three are whole\n"
    "  --version TEXT    the data version shown in the update tab (default: the\n"
    "                    date of the newest source)\n"
    "  --keep-lines FILE also publish the lines of this data file (CP949 or UTF-8;\n"
    "                    e.g. the six-digit lines published today), first and\n"
    "                    unchanged, in postcode.txt only\n"
    "\n"
    "postcode.txt: one line per road address: the code, the official road address,\n"
    "then the lot-number form. post.csv: a header row, then one row per code of\n"
    "the DB: the code, the province and district of most of its rows, its\n"
    "numbers of distinct road names and of buildings (rows), the English names of\n"
    "that province and district, and its distinct administrative dongs, eup/myeon\n"
    "and road names (the last two as KOREAN=ENGLISH), each list joined by ';';\n"
    "then, only when every line of postcode.txt is in byte order (kept lines\n"
    "too), the row postcode.txt,BYTES,LINES,FIVE with that file's size, lines\n"
    "and five-digit lines.\n"
    "Bad rows are reported on stderr and skipped. Exit status: 0 when the files\n"
    "were written, 2 on bad usage or when a source cannot be read or is not the\n"
    "DB; DIR is then left as it was.\n";

int UsageError(const std::string& message) { return publish::UsageError(message, kDataUsage); }

struct DataOptions {
  std::optional<std::string> version;
  std::string out;
  std::string keep_lines;
  std::vector<std::string> sources;
};

std::optional<int> ParseDataArguments(int argc, char** argv, DataOptions& options) {
  bool only_sources = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (only_sources || arg.empty() || arg[0] != '-') {
      options.sources.emplace_back(arg);
    } else if (arg == "--") {
      only_sources = true;
    } else if (arg == "--help" || arg == "-h") {
      std::printf("Usage:\n%s%s", kDataUsage, kDataHelp);
      return kExitDone;
    } else if (arg == "--out" || arg == "--version" || arg == "--keep-lines") {
      if (i + 1 >= argc) return UsageError(std::string(arg) + " needs a value");
      const std::string value = argv[++i];
      if (arg == "--out") options.out = value;
      if (arg == "--version") options.version = value;
      if (arg == "--keep-lines") options.keep_lines = value;
    } else {
      return UsageError("unknown option '" + std::string(arg) + "'");
    }
  }
  if (options.out.empty()) return UsageError("no --out DIR given");
  if (options.sources.empty()) return UsageError("no SOURCE given");
  return std::nullopt;
}

// Bad rows on stderr: the first few with their place, then how many in all.
class BadRows {
 public:
  void Report(const std::string& label, std::size_t line, const std::string& why) {
    if (++count_ <= kBadRowsShown) {
      std::fprintf(stderr, "marlix-publish: %s:%zu: %s, skipped\n", label.c_str(), line, why.c_str());
    }
  }
  void Close() const {
    if (count_ > kBadRowsShown) {
      std::fprintf(stderr, "marlix-publish: %zu bad rows in all, the first %zu shown\n", count_, kBadRowsShown);
    }
  }
  std::size_t count() const { return count_; }

 private:
  std::size_t count_ = 0;
};

// One output file, written under a temporary name beside its final one; the
// temporary file goes again unless it was put in place.
std::string Date(std::time_t when) {
  std::tm local{};
  char text[16] = "";
  if (when != 0 && localtime_r(&when, &local) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

std::string WithCommas(std::size_t n) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

struct ShownSource {
  marlix::Cp949String name;
  std::time_t modified;
};

// The text the update tab shows whole, its lines.
std::vector<marlix::Cp949String> VersionText(const marlix::Cp949String& version,
                                             const std::vector<ShownSource>& sources,
                                             const marlix::Cp949String& kept_name, std::size_t kept, std::size_t lines,
                                             std::size_t codes) {
  // Written in the data's CP949, with the version and the sources' names as they are.
  auto cp949 = [](std::string_view utf8) { return marlix::Cp949FromUtf8(utf8).bytes(); };
  std::vector<std::string> text = {cp949("우편번호 자료 버전: ") + version.bytes(),
                                   cp949("원본: 우정사업본부 지역별 주소 DB")};
  for (const ShownSource& s : sources) text.push_back("  " + s.name.bytes() + " (" + Date(s.modified) + ")");
  if (!kept_name.empty()) {
    text.push_back(cp949("  기존 자료: ") + kept_name.bytes() + " (" + WithCommas(kept) + cp949("줄)"));
  }
  text.push_back(cp949("자료 건수: " + WithCommas(lines) + "줄, 우편번호 " + WithCommas(codes) + "개"));
  std::vector<marlix::Cp949String> shown;
  shown.reserve(text.size());
  for (std::string& line : text) shown.emplace_back(std::move(line));
  return shown;
}

}  // namespace

int RunDataCommand(int argc, char** argv) {
  DataOptions options;
  if (std::optional<int> done = ParseDataArguments(argc, argv, options)) return *done;
  const publish::Cp949Tables text;
  if (!text.ok()) return Fail("this system has no CP949 conversion (iconv)");
  std::string version;
  if (options.version && text.AppendFromUtf8(*options.version, version) != publish::TextFault::kNone) {
    return UsageError("--version: text that CP949 cannot hold");
  }

  // Everything is read before anything is written, so that a source that
  // stops the run leaves DIR as it was.
  publish::AddressSet set;
  BadRows bad;
  std::vector<ShownSource> shown;
  std::size_t rows_read = 0;
  std::string scratch;
  publish::AddressRow row;
  const publish::TextReader read_db = [&](const publish::SourceText& source, publish::LineReader& lines) {
    std::string_view line;
    if (!lines.Next(line))
      return lines.failed() ? std::string() : source.label + ": empty, not Korea Post's address DB";
    const std::optional<publish::SourceEncoding> encoding = publish::EncodingOfHeader(line, text);
    if (!encoding) return source.label + ": its first line is not the header row of Korea Post's address DB";
    for (std::size_t number = 2; lines.Next(line); ++number) {
      if (line.empty()) continue;
      ++rows_read;
      const publish::RowProblem problem = publish::ParseRow(line, *encoding, text, scratch, row);
      if (problem.fault == publish::RowFault::kNone) {
        set.Add(row);
      } else {
        bad.Report(source.label, number, publish::Describe(problem));
      }
    }
    shown.push_back({source.shown, source.modified});
    return std::string();
  };
  for (const std::string& source : options.sources) {
    if (std::string stop = publish::ReadSource(source, text, read_db); !stop.empty()) return Fail(stop);
  }

  std::string kept;  // the kept lines, each with its line end
  std::size_t kept_lines = 0;
  marlix::Cp949String kept_name;
  if (!options.keep_lines.empty()) {
    const publish::TextReader read_kept = [&](const publish::SourceText& source, publish::LineReader& lines) {
      kept_name = source.shown;
      std::string_view line;
      std::string converted;
      for (std::size_t number = 1; lines.Next(line); ++number) {
        if (line.empty()) continue;
        // UTF-8 if it is that, strictly, else CP949, as the DB's texts.
        converted.clear();
        const bool utf8 = text.AppendFromUtf8(line, converted) == publish::TextFault::kNone;
        if (utf8) line = converted;
        if (marlix::PublishedFormOf(line) == marlix::LineForm::kNone ||
            (!utf8 && text.Check(line) != publish::TextFault::kNone)) {
          bad.Report(source.label, number, "not a data line (NNN-NNN or NNNNN, a space, the address) in CP949");
          continue;
        }
        kept.append(line);
        kept += '\n';
        ++kept_lines;
      }
      return std::string();
    };
    if (std::string stop = publish::ReadTextFile(options.keep_lines, text, read_kept); !stop.empty()) {
      return Fail(stop);
    }
  }
  bad.Close();
  if (set.rows() == 0 && kept_lines == 0) return Fail("nothing to publish: no good row in the sources");
  if (!options.version) {
    std::time_t newest = 0;
    for (const ShownSource& s : shown) newest = std::max(newest, s.modified);
    version = Date(newest);
  }

  const std::filesystem::path dir(options.out);
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) return Fail(options.out + ": cannot be made: " + error.message());
  OutputFile data(dir, marlix::kPostcodeFile);
  OutputFile csv(dir, marlix::kCodeNamesFile);
  OutputFile ver(dir, marlix::kDataVersionFile);
  for (const OutputFile* f : {&data, &csv, &ver}) {
    if (!f->opened()) return Fail(f->path().string() + ": cannot be written in " + options.out);
  }

  publish::CodeTally codes;
  publish::LineOrder order;
  auto write_line = [&](std::string_view line) {
    data.Line(line);
    codes.Count(line);
    order.Add(line);
  };
  csv.Line(marlix::kCodeNamesHeader);
  for (std::size_t at = 0; at < kept.size();) {
    const std::size_t end = kept.find('\n', at);
    write_line(std::string_view(kept).substr(at, end - at));
    at = end + 1;
  }
  // post.csv sums up the DB's codes; kept lines are addresses whose parts are
  // not known, so they have no row there.
  const publish::AddressSet::Totals totals =
      set.Write(write_line, [&](const publish::AddressSet::CodeSummary& code) { csv.Line(publish::CsvRow(code)); });
  if (order.sorted()) csv.Line(marlix::CodeNamesSortedRow(order.bytes(), order.lines(), order.five_digit_lines()));
  const std::size_t lines = kept_lines + totals.lines;
  for (const marlix::Cp949String& l :
       VersionText(marlix::Cp949String(version), shown, kept_name, kept_lines, lines, codes.distinct())) {
    ver.Line(l.bytes());
  }
  for (OutputFile* f : {&data, &csv, &ver}) {
    if (!f->Close()) return Fail(f->path().string() + ": could not be written whole");
  }
  // The version text last: it tells users that new data is there.
  for (OutputFile* f : {&data, &csv, &ver}) {
    if (!f->Place()) return Fail(f->path().string() + ": could not be put in place");
  }

  std::printf("marlix-publish: wrote %s, %s and %s\n", data.path().c_str(), csv.path().filename().c_str(),
              ver.path().filename().c_str());
  std::printf("  rows read:     %zu (from %zu source text%s)\n", rows_read, shown.size(), shown.size() == 1 ? "" : "s");
  std::printf("  lines written: %zu (%zu codes", lines, codes.distinct());
  if (!kept_name.empty()) std::printf("; %zu lines kept from %s", kept_lines, options.keep_lines.c_str());
  std::printf(")\n");
  std::printf("  rows merged:   %zu (into the line of their road address)\n", totals.merged);
  std::printf("  lines cut:     %zu (building names or lot forms left out to keep %zu bytes)\n", totals.cut,
              marlix::kDataLineMaxBytes);
  std::printf("  rows skipped:  %zu (bad rows, reported on stderr)\n", bad.count());
  return kExitDone;
}

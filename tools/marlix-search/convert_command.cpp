#include "convert_command.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "address_batch.h"
#include "address_table.h"
#include "code_names.h"
#include "csv_table.h"
#include "file_stream.h"
#include "opened_data.h"
#include "search_tool.h"

namespace {

constexpr int kExitDone = 0;

constexpr char kUsage[] =
    "Usage: marlix-search convert [--data FILE] [--column N|NAME] [--out FILE] [INPUT]\n"
    "\n"
    "Gives each address of INPUT (standard input when absent or -) its postal code.\n"
    "INPUT is one address a line or, with --column, a CSV or tab-separated table as\n"
    "Excel writes or copies it (CP949 or UTF-8); --column 3 takes the third field,\n"
    "--column NAME the field that the first row (a header) names. The output is CSV:\n"
    "each row's fields, then its code, the data line's address, its English address\n"
    "and the verdict: one code fits, N codes fit (the best given), or none.\n"
    "Standard output is UTF-8; --out FILE writes UTF-8 with a byte-order mark, as\n"
    "Excel opens it. Nothing is sent anywhere.\n"
    "Exit status: 0 when every row was read, 2 on a bad option or an unreadable\n"
    "input or data file.\n";

int Trouble(const std::string& message) { return marlix::Complain("marlix-search convert", message); }

int UsageTrouble(const std::string& message) { return marlix::Complain("marlix-search convert", message, kUsage); }

struct ConvertOptions {
  std::string data;
  std::string column;  // empty: a list, one address a line
  std::string out;
  std::string input = "-";
};

std::optional<std::string> ReadAll(const std::string& path) {
  std::string bytes;
  char block[1 << 16];
  if (path == "-") {
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, stdin)) > 0;) bytes.append(block, got);
    if (std::ferror(stdin) != 0) return std::nullopt;
    return bytes;
  }
  const marlix::FileStream file = marlix::OpenFileStream(path, "rb");
  if (!file || std::filesystem::is_directory(path)) return std::nullopt;
  for (std::size_t got; (got = std::fread(block, 1, sizeof block, file.get())) > 0;) bytes.append(block, got);
  if (std::ferror(file.get()) != 0) return std::nullopt;
  return bytes;
}

// The field of each row that holds its address: from --column N (counted from
// 1) or NAME (a header field); nullopt when the header has no such field.
std::optional<std::size_t> ColumnOf(const std::string& column, const std::vector<marlix::TableRow>& rows,
                                    bool& header) {
  header = false;
  if (!column.empty() && column.find_first_not_of("0123456789") == std::string::npos) {
    const unsigned long n = column.size() <= 6 ? std::stoul(column) : 0;
    if (n == 0) return std::nullopt;
    return n - 1;
  }
  header = true;
  if (rows.empty()) return std::nullopt;
  for (std::size_t i = 0; i < rows[0].size(); ++i) {
    std::string_view name = rows[0][i];
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    if (name == column) return i;
  }
  return std::nullopt;
}

}  // namespace

int RunConvertCommand(int argc, char** argv, const std::string& default_data) {
  ConvertOptions options;
  options.data = default_data;
  bool input_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kExitDone;
    }
    if (arg == "--data" || arg == "--column" || arg == "--out") {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') return UsageTrouble(std::string(arg) + " needs a value");
      std::string& value = arg == "--data" ? options.data : arg == "--column" ? options.column : options.out;
      value = argv[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageTrouble("unknown option '" + std::string(arg) + "'");
    } else if (input_given) {
      return UsageTrouble("one input at most, not '" + std::string(arg) + "' too");
    } else {
      options.input = arg;
      input_given = true;
    }
  }
  const auto started = std::chrono::steady_clock::now();

  const std::optional<std::string> bytes = ReadAll(options.input);
  if (!bytes) return Trouble("cannot read " + (options.input == "-" ? std::string("standard input") : options.input));
  const std::string text = marlix::TextAsUtf8(*bytes);
  std::vector<marlix::TableRow> rows =
      options.column.empty() ? marlix::ReadLines(text) : marlix::ReadTable(text, marlix::SeparatorOf(text));
  bool header = false;
  std::size_t column = 0;
  if (!options.column.empty()) {
    const std::optional<std::size_t> found = ColumnOf(options.column, rows, header);
    if (!found) {
      return UsageTrouble(header ? "no column '" + options.column + "' in the first row"
                                 : "--column takes a number from 1 or a column's name, not '" + options.column + "'");
    }
    column = *found;
  }
  const std::size_t first = header ? 1 : 0;
  const std::vector<marlix::Cp949String> addresses = marlix::AddressesOf(rows, first, column);

  marlix::RecoverDataBeside(options.data);
  marlix::OpenedData data(options.data, marlix::NamesRead::kForManyQuestions);
  const marlix::CodeNames& names = data.names();
  const marlix::BatchOutcome outcome = marlix::ConvertAddresses(data, addresses);
  if (outcome.status != marlix::SearchStatus::kOk) {
    return Trouble("cannot read the data file " + options.data + ": " + std::strerror(outcome.error));
  }

  std::string csv = options.out.empty() ? "" : "\xEF\xBB\xBF";
  constexpr std::string_view kLineEnd = "\r\n";
  if (header) {
    marlix::TableRow head = rows[0];
    head.insert(head.end(), marlix::kResultHeader.begin(), marlix::kResultHeader.end());
    marlix::AppendCsvRow(csv, head, kLineEnd);
  }
  std::size_t counts[3] = {};  // by AddressVerdict: 없음, 일치, 후보
  for (std::size_t r = first; r < rows.size(); ++r) {
    const marlix::AddressResult& result = outcome.results[r - first];
    marlix::TableRow row = std::move(rows[r]);
    const marlix::TableRow fields = marlix::ResultFields(result, names);
    row.insert(row.end(), fields.begin(), fields.end());
    ++counts[static_cast<int>(result.verdict)];
    marlix::AppendCsvRow(csv, row, kLineEnd);
  }

  if (options.out.empty()) {
    if (std::fwrite(csv.data(), 1, csv.size(), stdout) != csv.size() || std::fflush(stdout) != 0) {
      return Trouble(std::string("cannot write: ") + std::strerror(errno));
    }
  } else {
    const marlix::FileStream out = marlix::OpenFileStream(options.out, "wb");
    if (!out || std::fwrite(csv.data(), 1, csv.size(), out.get()) != csv.size() || std::fflush(out.get()) != 0) {
      return Trouble("cannot write " + options.out + ": " + std::strerror(errno));
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::fprintf(stderr, "marlix-search convert: %zu rows: 일치 %zu, 후보 %zu, 없음 %zu (%.2f s)\n", rows.size() - first,
               counts[1], counts[2], counts[0], seconds);
  return kExitDone;
}

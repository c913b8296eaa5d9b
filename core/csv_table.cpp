#include "csv_table.h"

#include "text.h"
#include "utf8_bytes.h"

namespace marlix {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

}  // namespace

std::string TextAsUtf8(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Mark)) return std::string(bytes.substr(kUtf8Mark.size()));
  if (IsUtf8Text(bytes)) return std::string(bytes);
  return Utf8FromCp949(Cp949View(bytes));
}

char SeparatorOf(std::string_view text) {
  bool quoted = false;
  for (const char c : text) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == '\t') return '\t';
    if (c == '\n' || c == '\r') break;
  }
  return ',';
}

std::vector<TableRow> ReadTable(std::string_view text, char separator) {
  std::vector<TableRow> rows;
  TableRow row;
  std::string field;
  bool quoted = false;    // inside a quoted field
  bool row_open = false;  // something of the current row has been read
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
      }
      continue;
    }
    if (c == '"' && field.empty()) {
      quoted = true;
      row_open = true;
    } else if (c == separator) {
      row.push_back(std::move(field));
      field.clear();
      row_open = true;
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      row.push_back(std::move(field));
      field.clear();
      rows.push_back(std::move(row));
      row.clear();
      row_open = false;
    } else {
      field += c;
      row_open = true;
    }
  }
  if (row_open) {
    row.push_back(std::move(field));
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<TableRow> ReadLines(std::string_view text) {
  std::vector<TableRow> rows;
  while (!text.empty()) {
    const std::size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    if (line.ends_with('\r')) line.remove_suffix(1);
    rows.push_back({std::string(line)});
    if (lf == std::string_view::npos) break;
    text.remove_prefix(lf + 1);
  }
  return rows;
}

namespace {

// Fields joined by `separator`, each quoted where `quote` says, its quotes doubled.
template <class Quote>
void AppendRow(std::string& out, const TableRow& fields, char separator, std::string_view line_end, Quote quote) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += separator;
    const std::string& f = fields[i];
    if (!quote(f)) {
      out += f;
      continue;
    }
    out += '"';
    for (const char c : f) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  out += line_end;
}

}  // namespace

void AppendCsvRow(std::string& out, const TableRow& fields, std::string_view line_end) {
  AppendRow(out, fields, ',', line_end, [](const std::string& f) {
    return f.find_first_of(",\"\r\n") != std::string::npos || (!f.empty() && (f.front() == ' ' || f.back() == ' '));
  });
}

void AppendTabRow(std::string& out, const TableRow& fields, std::string_view line_end) {
  AppendRow(out, fields, '\t', line_end,
            [](const std::string& f) { return f.find_first_of("\t\"\r\n") != std::string::npos; });
}

}  // namespace marlix

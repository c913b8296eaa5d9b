// Tables as Excel writes or copies them, and CSV as Excel reads it: the
// converter's input and output. Portable; text UTF-8 after TextAsUtf8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace marlix {

// The text of a file or a paste as UTF-8: without a UTF-8 byte-order mark,
// as it is when it is UTF-8, else read as CP949 (what Korean Excel saves).
std::string TextAsUtf8(std::string_view bytes);

// The separator of a table: a tab when its first row holds one outside
// quotes (what Excel copies), else a comma.
char SeparatorOf(std::string_view text);

// The rows of a table: fields split at `separator`, a quoted field's "" a
// quote and its line ends kept; rows end at CR LF, LF or CR. A last line end
// makes no empty row.
using TableRow = std::vector<std::string>;
std::vector<TableRow> ReadTable(std::string_view text, char separator);

// The lines of a text, one field each: CR LF or LF; a last line end makes no
// empty row.
std::vector<TableRow> ReadLines(std::string_view text);

// One CSV row as Excel reads it: fields joined by commas, a field quoted when
// it holds a comma, a quote, a line end or a space at either end; then `line_end`.
void AppendCsvRow(std::string& out, const TableRow& fields, std::string_view line_end);

// One row as Excel pastes it from the clipboard: fields joined by tabs, a
// field quoted when it holds a tab, a quote or a line end; then `line_end`.
void AppendTabRow(std::string& out, const TableRow& fields, std::string_view line_end);

}  // namespace marlix

// marlix-search: the postcode search from the command line, over the same core
// as the Windows program. Terms arrive in UTF-8 and lines leave in UTF-8; the
// data file is CP949 and is searched as bytes.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "code_names.h"
#include "convert_command.h"
#include "copy_cut.h"
#include "data_files.h"
#include "iconv_converter.h"
#include "opened_data.h"
#include "postcode_search.h"
#include "search_tool.h"
#include "update_command.h"

namespace {

constexpr int kExitMatch = 0;
constexpr int kExitNoMatch = 1;

// The help text is plain ASCII.
constexpr char kUsage[] =
    "Usage:\n"
    "  marlix-search [--data FILE] [--copy code|address|line|english] [--raw] code TERM\n"
    "  marlix-search [--data FILE] [--copy code|address|line|english] [--raw] name TERM\n"
    "  marlix-search [--data FILE] [--copy code|address|line|english] [--raw] and TERM1 TERM2\n"
    "  marlix-search [--data FILE] [--copy code|address|line|english] [--raw] or TERM1 TERM2\n"
    "  marlix-search update [--server URL]\n"
    "  marlix-search convert [--data FILE] [--column N|NAME] [--out FILE] [INPUT]\n";

constexpr char kHelp[] =
    "\n"
    "Searches a CP949 postcode file and prints every matching line in file order.\n"
    "A line is an old six-digit entry (NNN-NNN, a separator, the address from\n"
    "byte 8) or a five-digit one (NNNNN, a space, the address from byte 6).\n"
    "\n"
    "  code TERM         lines whose postcode begins with TERM: a six-digit code as\n"
    "                    typed (123456, 123-456 and 123 456 are the same code), or\n"
    "                    the term's digits at the start of a five-digit code (06315,\n"
    "                    063-15 and 063 15 find 06315); 12 lists every code from 12\n"
    "  name TERM         lines whose address holds every space-separated word of TERM\n"
    "  and TERM1 TERM2   lines holding both terms anywhere (an empty term is in every line)\n"
    "  or TERM1 TERM2    lines holding either term\n"
    "  convert ...       a list of addresses or a table's column given their codes as\n"
    "                    CSV (marlix-search convert --help)\n"
    "\n"
    "Options:\n"
    "  --data FILE       the data file (default: $XDG_DATA_HOME/marlix/postcode.txt,\n"
    "                    or ~/.local/share/marlix/postcode.txt)\n"
    "  --copy MODE       print only what the program would copy: code (the postal\n"
    "                    code), address (what follows the code's separator), line\n"
    "                    (default) or english (a five-digit line's English address,\n"
    "                    \"67, Nonhyeon-ro 8-gil, Gangnam-gu, Seoul 06315\", from the\n"
    "                    post.csv beside the data file; the whole line where that\n"
    "                    does not give it)\n"
    "  --raw             take the terms as CP949 bytes and print CP949 bytes unchanged\n"
    "  --help            this text\n"
    "\n"
    "Exit status: 0 when a line matched, 1 when none did, 2 on bad usage, an\n"
    "unreadable data file or a term that cannot be written in CP949.\n";

int Fail(const std::string& message) { return marlix::Complain("marlix-search", message); }

int UsageError(const std::string& message) { return marlix::Complain("marlix-search", message, kUsage); }

std::string DefaultDataPath() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
    return std::string(xdg) + "/marlix/" + marlix::kPostcodeFile;
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : ".") + "/.local/share/marlix/" + marlix::kPostcodeFile;
}

struct Options {
  std::string data;
  int copy_mode = marlix::kCopyWholeLine;
  bool raw = false;
  std::string command;
  std::string terms[2];
};

// Fills `options` from the arguments; returns an exit status when done already.
std::optional<int> ParseArguments(int argc, char** argv, Options& options) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return kExitMatch;
    }
    if (arg == "--raw") {
      options.raw = true;
    } else if (arg == "--data" || arg == "--copy") {
      if (i + 1 >= argc) return UsageError(std::string(arg) + " needs a value");
      const std::string_view value = argv[++i];
      if (arg == "--data") {
        options.data = value;
      } else if (value == "code") {
        options.copy_mode = marlix::kCopyPostcode;
      } else if (value == "address") {
        options.copy_mode = marlix::kCopyAddress;
      } else if (value == "line") {
        options.copy_mode = marlix::kCopyWholeLine;
      } else if (value == "english") {
        options.copy_mode = marlix::kCopyEnglish;
      } else {
        return UsageError("--copy takes code, address, line or english, not '" + std::string(value) + "'");
      }
    } else if (arg == "--") {
      ++i;
      break;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option '" + std::string(arg) + "'");
    } else {
      break;
    }
  }
  if (i >= argc) return UsageError("no search given");
  options.command = argv[i++];
  const int want = (options.command == "code" || options.command == "name") ? 1
                   : (options.command == "and" || options.command == "or")  ? 2
                                                                            : 0;
  if (want == 0) return UsageError("unknown search '" + options.command + "'");
  if (argc - i != want) {
    return UsageError("'" + options.command + "' takes " + (want == 1 ? "one term" : "two terms"));
  }
  for (int t = 0; t < want; ++t) options.terms[t] = argv[i + t];
  if (options.data.empty()) options.data = DefaultDataPath();
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "update")
    return StartUpdateCommand(argc - 1, argv + 1, DefaultDataPath());
  if (argc > 1 && std::string_view(argv[1]) == "convert")
    return RunConvertCommand(argc - 1, argv + 1, DefaultDataPath());
  Options options;
  if (std::optional<int> done = ParseArguments(argc, argv, options)) return *done;

  // Raw mode needs no conversion, and opening one costs more than a small search.
  std::optional<marlix::IconvConverter> to_cp949, to_utf8;
  if (!options.raw) {
    to_cp949.emplace("CP949", "UTF-8");
    to_utf8.emplace("UTF-8", "CP949");
    if (!to_cp949->ok() || !to_utf8->ok()) return Fail("this system has no CP949 conversion (iconv)");
  }

  marlix::Cp949String terms[2];
  for (int t = 0; t < 2; ++t) {
    if (options.raw) {
      terms[t] = marlix::Cp949String(options.terms[t]);
      continue;
    }
    std::optional<std::string> converted = to_cp949->Strict(options.terms[t]);
    if (!converted) return Fail("the term '" + options.terms[t] + "' cannot be written in CP949");
    terms[t] = marlix::Cp949String(std::move(*converted));
  }

  marlix::RecoverDataBeside(options.data);

  const marlix::MatchRule rule = options.command == "code"   ? marlix::MatchRule::kPostcode
                                 : options.command == "name" ? marlix::MatchRule::kWords
                                 : options.command == "and"  ? marlix::MatchRule::kAnd
                                                             : marlix::MatchRule::kOr;
  // post.csv beside the data holds the English names, the 행정동 and the sign
  // that the data is sorted: read only when the search may need them or the
  // English address is printed.
  const int copy_mode = options.copy_mode;
  const marlix::Cp949View term1 = terms[0].view(), term2 = terms[1].view();
  marlix::OpenedData data(options.data, copy_mode == marlix::kCopyEnglish || marlix::NeedsNames(rule, term1)
                                            ? marlix::NamesRead::kBeside
                                            : marlix::NamesRead::kNone);
  const marlix::CodeNames& names = data.names();

  static char out_buffer[1 << 20];
  std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
  std::string utf8;
  const bool raw = options.raw;
  marlix::Cp949String english;
  auto print = [&](std::string_view line) {
    std::string_view text = marlix::CutForCopy(line, copy_mode);
    if (copy_mode == marlix::kCopyEnglish) {
      english = marlix::TextForCopy(marlix::Cp949View(line), copy_mode, names);
      text = english.view().bytes();
    }
    if (raw) {
      std::fwrite(text.data(), 1, text.size(), stdout);
    } else {
      to_utf8->Lenient(text, utf8, "\xEF\xBF\xBD");
      std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    }
    std::putc('\n', stdout);
  };
  const marlix::SearchOutcome outcome = marlix::SearchFile(data.file(), data.Request(rule, term1, term2), print);
  if (std::fflush(stdout) != 0 && errno != EPIPE) return Fail(std::string("cannot write: ") + std::strerror(errno));

  switch (outcome.status) {
    case marlix::SearchStatus::kOpenFailed:
      return Fail("cannot open the data file " + options.data + ": " + std::strerror(outcome.error));
    case marlix::SearchStatus::kReadFailed:
      return Fail("cannot read the data file " + options.data + ": " + std::strerror(outcome.error));
    case marlix::SearchStatus::kOk:
      break;
  }
  return outcome.matches > 0 ? kExitMatch : kExitNoMatch;
}

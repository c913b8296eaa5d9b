// Fuzzes the program-version file and the version order: the "zipver=" line
// taken from an arbitrary body, the data-version panel's text built from the
// same body read through the remote-file reader, and the order of
// versions (a total order in which a prefix sorts first).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "data_version.h"
#include "fuzz_support.h"
#include "memory_body.h"
#include "version_check.h"

using marlix::fuzz::Check;

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

// The version the file names, found the plain way: the first line that holds
// the key, the text after the key's first place in it.
bool ExpectedVersion(std::string_view body, std::string& version) {
  constexpr std::string_view kKey = "zipver=";
  while (!body.empty()) {
    const std::size_t lf = body.find('\n');
    const std::string line = marlix::fuzz::WithoutCr(body.substr(0, lf));
    body.remove_prefix(lf == std::string_view::npos ? body.size() : lf + 1);
    if (const std::size_t key = line.find(kKey); key != std::string::npos) {
      version = line.substr(key + kKey.size());
      return true;
    }
  }
  return false;
}

void CheckOrder(std::string_view a, std::string_view b, std::string_view c) {
  const int ab = marlix::CompareVersions(a, b);
  Check(Sign(ab) == -Sign(marlix::CompareVersions(b, a)), "compare is not antisymmetric");
  Check((ab == 0) == (a == b), "compare calls different texts equal");
  Check(marlix::ServerVersionIsNewer(a, b) == (ab > 0), "newer disagrees with compare");
  if (a.size() < b.size() && b.substr(0, a.size()) == a) Check(ab < 0, "a prefix does not sort first");
  const int bc = marlix::CompareVersions(b, c);
  const int ac = marlix::CompareVersions(a, c);
  if (ab < 0 && bc < 0) Check(ac < 0, "compare is not transitive");
  if (ab == 0) Check(Sign(ac) == Sign(bc), "equal texts order differently");
  // Only the order of CP949 characters counts: a first character that differs
  // decides, whatever follows.
  if (!a.empty() && !b.empty() && static_cast<unsigned char>(a[0]) < 0x81 && static_cast<unsigned char>(b[0]) < 0x81 &&
      a[0] != b[0]) {
    Check(Sign(ab) == (static_cast<unsigned char>(a[0]) < static_cast<unsigned char>(b[0]) ? -1 : 1),
          "single-byte characters out of byte order");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::string_view in(reinterpret_cast<const char*>(data) + 2, size - 2);
  const std::size_t len_a = data[0] % 16, len_b = data[1] % 16;

  // Three versions from the input's head, compared in every order.
  if (in.size() >= len_a + len_b) {
    const std::string_view a = in.substr(0, len_a), b = in.substr(len_a, len_b), c = in.substr(len_a + len_b, 16);
    CheckOrder(a, b, c);
    CheckOrder(b, c, a);
    CheckOrder(c, a, b);
    CheckOrder(a, a, b);
  }

  // One line as it stands: the key anywhere in it, leading white space or not,
  // and the version is the rest of the line after the key.
  std::string version;
  const std::string_view first_line = in.substr(0, in.find('\n'));
  const std::size_t key = first_line.find("zipver=");
  Check(marlix::TakeVersionLine(first_line, version) == (key != std::string_view::npos),
        "TakeVersionLine found the key differently");
  Check(key == std::string_view::npos || version == first_line.substr(key + 7), "TakeVersionLine took the wrong text");

  // The whole input as the version file's body.
  version.clear();
  std::string expected;
  const bool read = marlix::FindVersionLine(in, version);
  Check(read == ExpectedVersion(in, expected), "FindVersionLine found a version line differently");
  Check(!read || version == expected, "FindVersionLine took the wrong version");

  // The same body as the data-version panel shows it, read in pieces of the
  // sizes the input's first bytes name: each line with CR LF.
  const std::string_view chunks = in.substr(0, data[0] % 4);
  const std::optional<marlix::Cp949String> text =
      marlix::ReadDataVersionText(*marlix::fuzz::OpenBody(in, chunks), in.size());
  Check(text.has_value(), "data-version text of a body within its cap was refused");
  std::string want;
  for (std::string_view rest = in; !rest.empty();) {
    const std::size_t lf = rest.find('\n');
    want += marlix::fuzz::WithoutCr(rest.substr(0, lf));
    want += "\r\n";
    rest.remove_prefix(lf == std::string_view::npos ? rest.size() : lf + 1);
  }
  Check(text->bytes() == want, "data-version text differs from the body's lines");
  Check(in.empty() || !marlix::ReadDataVersionText(*marlix::fuzz::OpenBody(in, chunks), in.size() - 1),
        "data-version text of a body past its cap was taken");
  return 0;
}

// Fuzzes the reading of signatures: any bytes read as a DER signature are the
// one encoding of their two numbers (written back, they are the same bytes),
// and any two numbers written as DER read back as themselves.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "signature.h"

using marlix::fuzz::Check;
namespace signature = marlix::signature;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  if (const auto raw = signature::FromDer(in)) {
    Check(signature::ToDer(*raw) == in, "a signature read from DER is not written back as the same bytes");
  }
  if (size >= 64) {
    signature::RawSignature raw{};
    std::copy(data, data + 64, raw.begin());
    const std::string der = signature::ToDer(raw);
    const auto back = signature::FromDer(der);
    // Only a zero number has no DER form that reads.
    const bool zero = std::all_of(data, data + 32, [](std::uint8_t b) { return b == 0; }) ||
                      std::all_of(data + 32, data + 64, [](std::uint8_t b) { return b == 0; });
    Check(back.has_value() != zero, "written DER does not read back");
    Check(!back || *back == raw, "written DER reads back as other numbers");
  }
  return 0;
}

#include "signature.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "file_stream.h"

namespace marlix::signature {

namespace {

constexpr std::uint8_t kSequence = 0x30;
constexpr std::uint8_t kInteger = 0x02;
constexpr std::size_t kNumberBytes = 32;

std::uint8_t Byte(std::string_view text, std::size_t i) { return static_cast<std::uint8_t>(text[i]); }

// Takes one INTEGER from the front of `der` into `out` (32 bytes, right-aligned).
// A zero, a negative number, a needless leading zero and a number of more
// than 32 bytes are all refused: none of them is what a signer writes.
bool TakeNumber(std::string_view& der, std::uint8_t* out) {
  if (der.size() < 2 || Byte(der, 0) != kInteger) return false;
  const std::size_t length = Byte(der, 1);
  if (length == 0 || length > kNumberBytes + 1 || der.size() < 2 + length) return false;
  std::string_view value = der.substr(2, length);
  if ((Byte(value, 0) & 0x80) != 0) return false;
  if (Byte(value, 0) == 0) {
    if (value.size() == 1 || (Byte(value, 1) & 0x80) == 0) return false;
    value.remove_prefix(1);
  }
  if (value.size() > kNumberBytes) return false;
  std::fill(out, out + kNumberBytes, std::uint8_t{0});
  for (std::size_t i = 0; i < value.size(); ++i) out[kNumberBytes - value.size() + i] = Byte(value, i);
  der.remove_prefix(2 + length);
  return true;
}

void PutNumber(const std::uint8_t* number, std::string& der) {
  std::size_t first = 0;
  while (first + 1 < kNumberBytes && number[first] == 0) ++first;
  const bool pad = (number[first] & 0x80) != 0;
  der += static_cast<char>(kInteger);
  der += static_cast<char>(kNumberBytes - first + (pad ? 1 : 0));
  if (pad) der += '\0';
  der.append(reinterpret_cast<const char*>(number + first), kNumberBytes - first);
}

bool VerifyDigestWithAny(const std::optional<Digest>& digest, std::string_view der, std::span<const PublicKey> keys) {
  const std::optional<RawSignature> signature = FromDer(der);
  if (!digest || !signature) return false;
  for (const PublicKey& key : keys) {
    if (VerifyDigest(*digest, *signature, key)) return true;
  }
  return false;
}

}  // namespace

std::optional<RawSignature> FromDer(std::string_view der) {
  // Every length here is below 128, so each takes one byte.
  if (der.size() < 2 || der.size() > kMaxDerBytes || Byte(der, 0) != kSequence || Byte(der, 1) != der.size() - 2) {
    return std::nullopt;
  }
  der.remove_prefix(2);
  RawSignature signature{};
  if (!TakeNumber(der, signature.data()) || !TakeNumber(der, signature.data() + kNumberBytes) || !der.empty()) {
    return std::nullopt;
  }
  return signature;
}

std::string ToDer(const RawSignature& signature) {
  std::string numbers;
  PutNumber(signature.data(), numbers);
  PutNumber(signature.data() + kNumberBytes, numbers);
  return std::string(1, static_cast<char>(kSequence)) + static_cast<char>(numbers.size()) + numbers;
}

bool VerifyBytes(std::string_view bytes, std::string_view der, std::span<const PublicKey> keys) {
  Sha256 hash;
  hash.Add(bytes.data(), bytes.size());
  return VerifyDigestWithAny(hash.Finish(), der, keys);
}

bool VerifyFile(const std::string& path, std::string_view der, std::span<const PublicKey> keys) {
  const FileStream file = OpenFileStream(path, "rb");
  if (!file) return false;
  Sha256 hash;
  static constexpr std::size_t kBlock = 64 * 1024;
  auto block = std::make_unique<char[]>(kBlock);
  std::size_t got = 0;
  while ((got = std::fread(block.get(), 1, kBlock, file.get())) > 0) hash.Add(block.get(), got);
  const bool read_whole = std::ferror(file.get()) == 0;
  return read_whole && VerifyDigestWithAny(hash.Finish(), der, keys);
}

}  // namespace marlix::signature

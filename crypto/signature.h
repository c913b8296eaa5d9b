// The publisher's signatures over everything the programs install, store or
// act on. Beside each file NAME the server keeps NAME.sig: an ECDSA P-256
// signature over the file's SHA-256, DER-encoded, exactly as
//   openssl dgst -sha256 -sign private.pem -out NAME.sig NAME
// writes it (and `openssl dgst -sha256 -verify public.pem -signature NAME.sig
// NAME` checks it). The programs carry the publisher's public keys and take a
// file only when its signature verifies with one of them.
//
// The hashing and the verifying are the platform's: CNG (bcrypt.dll) on
// Windows, OpenSSL's libcrypto elsewhere (signature_cng_win.cpp,
// signature_openssl.cpp). What is portable here is reading the signature,
// strictly, and trying each key.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace marlix::signature {

// The signature's name beside the file's, on the server.
inline constexpr char kSuffix[] = ".sig";
// The longest DER form of a P-256 signature: a sequence of two integers of
// 33 bytes each (32 and a zero that keeps a high first byte positive).
inline constexpr std::size_t kMaxDerBytes = 72;

// A P-256 public key as its uncompressed point: 0x04, then X and Y, 32 bytes each.
using PublicKey = std::array<std::uint8_t, 65>;
// A SHA-256 digest.
using Digest = std::array<std::uint8_t, 32>;
// A signature as its two numbers r and s, 32 bytes each, most significant first.
using RawSignature = std::array<std::uint8_t, 64>;

// The keys this build was made with (the publisher's, or a development key),
// the current one first.
std::span<const PublicKey> BuiltInKeys();

// The two numbers of a DER signature. Only the one encoding OpenSSL writes
// is taken: a SEQUENCE of two positive INTEGERs in their shortest form, of at
// most 32 significant bytes, definite short lengths, nothing after it.
std::optional<RawSignature> FromDer(std::string_view der);
// The DER form of a signature, as OpenSSL writes it.
std::string ToDer(const RawSignature& signature);

// True when `der` is a signature over `bytes` (or over the file at `path`)
// by one of `keys`. A file that cannot be read verifies nothing.
bool VerifyBytes(std::string_view bytes, std::string_view der, std::span<const PublicKey> keys = BuiltInKeys());
bool VerifyFile(const std::string& path, std::string_view der, std::span<const PublicKey> keys = BuiltInKeys());

// What each platform provides.

// SHA-256 over data given in pieces.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Add(const void* data, std::size_t size);
  // The digest of everything added; nothing when the platform failed on the way.
  std::optional<Digest> Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// True when `signature` over `digest` verifies with `key`.
bool VerifyDigest(const Digest& digest, const RawSignature& signature, const PublicKey& key);

}  // namespace marlix::signature

// Hashing and verifying through OpenSSL's libcrypto, for Linux: marlix-search
// and the tests.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>

#include "openssl_owners.h"
#include "signature.h"

namespace marlix::signature {

namespace {

// The DER SubjectPublicKeyInfo of a P-256 key up to its point: the EC public
// key and prime256v1 object ids and the bit string's header.
constexpr std::uint8_t kP256KeyHeader[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                           0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                           0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};

}  // namespace

struct Sha256::State {
  const UniqueMdContext context{EVP_MD_CTX_new()};
  bool failed = !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::Add(const void* data, std::size_t size) {
  if (!state_->failed && size > 0 && EVP_DigestUpdate(state_->context.get(), data, size) != 1) state_->failed = true;
}

std::optional<Digest> Sha256::Finish() {
  Digest digest{};
  unsigned length = 0;
  if (state_->failed || EVP_DigestFinal_ex(state_->context.get(), digest.data(), &length) != 1 ||
      length != digest.size()) {
    return std::nullopt;
  }
  return digest;
}

bool VerifyDigest(const Digest& digest, const RawSignature& signature, const PublicKey& key) {
  std::uint8_t spki[sizeof kP256KeyHeader + std::tuple_size_v<PublicKey>];
  std::copy(std::begin(kP256KeyHeader), std::end(kP256KeyHeader), spki);
  std::copy(key.begin(), key.end(), spki + sizeof kP256KeyHeader);
  const unsigned char* in = spki;
  // d2i_PUBKEY refuses a point that is not on the curve.
  const UniquePkey public_key(d2i_PUBKEY(nullptr, &in, sizeof spki));
  if (!public_key) return false;
  const UniquePkeyContext context(EVP_PKEY_CTX_new(public_key.get(), nullptr));
  const std::string der = ToDer(signature);
  return context && EVP_PKEY_verify_init(context.get()) == 1 &&
         EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) == 1 &&
         EVP_PKEY_verify(context.get(), reinterpret_cast<const unsigned char*>(der.data()), der.size(), digest.data(),
                         digest.size()) == 1;
}

}  // namespace marlix::signature

// Hashing and verifying through Windows' CNG (bcrypt.dll), so that the
// programs carry no cryptography of their own.
#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "handle_win.h"
#include "signature.h"

namespace marlix::signature {

namespace {

void CloseAlgorithm(BCRYPT_ALG_HANDLE algorithm) { ::BCryptCloseAlgorithmProvider(algorithm, 0); }
void DestroyKey(BCRYPT_KEY_HANDLE key) { ::BCryptDestroyKey(key); }
void DestroyHash(BCRYPT_HASH_HANDLE hash) { ::BCryptDestroyHash(hash); }

using UniqueAlgorithm = UniqueHandle<NullHandleTraits<BCRYPT_ALG_HANDLE, &CloseAlgorithm>>;
using UniqueKey = UniqueHandle<NullHandleTraits<BCRYPT_KEY_HANDLE, &DestroyKey>>;
using UniqueHash = UniqueHandle<NullHandleTraits<BCRYPT_HASH_HANDLE, &DestroyHash>>;

bool Succeeded(NTSTATUS status) { return status >= 0; }

UniqueAlgorithm OpenAlgorithm(const wchar_t* name) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!Succeeded(::BCryptOpenAlgorithmProvider(&algorithm, name, nullptr, 0))) return UniqueAlgorithm();
  return UniqueAlgorithm(algorithm);
}

}  // namespace

struct Sha256::State {
  UniqueAlgorithm algorithm = OpenAlgorithm(BCRYPT_SHA256_ALGORITHM);
  UniqueHash hash;
  bool failed = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  BCRYPT_HASH_HANDLE hash = nullptr;
  state_->failed =
      !state_->algorithm || !Succeeded(::BCryptCreateHash(state_->algorithm.get(), &hash, nullptr, 0, nullptr, 0, 0));
  state_->hash.reset(hash);
}

Sha256::~Sha256() = default;

void Sha256::Add(const void* data, std::size_t size) {
  // CNG reads the input without changing it; its parameter is only not const.
  auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));  // NOLINT(cppcoreguidelines-pro-type-const-cast)
  while (!state_->failed && size > 0) {
    const ULONG piece = static_cast<ULONG>(std::min<std::size_t>(size, ULONG_MAX));
    state_->failed = !Succeeded(::BCryptHashData(state_->hash.get(), bytes, piece, 0));
    bytes += piece;
    size -= piece;
  }
}

std::optional<Digest> Sha256::Finish() {
  Digest digest{};
  if (state_->failed || !Succeeded(::BCryptFinishHash(state_->hash.get(), digest.data(), digest.size(), 0))) {
    return std::nullopt;
  }
  state_->failed = true;  // a finished hash takes nothing more
  return digest;
}

bool VerifyDigest(const Digest& digest, const RawSignature& signature, const PublicKey& key) {
  if (key[0] != 0x04) return false;
  const UniqueAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  if (!algorithm) return false;
  // CNG's public key blob: its header, then X and Y.
  UCHAR blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64] = {};
  const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::memcpy(blob, &header, sizeof header);
  std::memcpy(blob + sizeof header, key.data() + 1, 64);
  BCRYPT_KEY_HANDLE imported = nullptr;
  if (!Succeeded(
          ::BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &imported, blob, sizeof blob, 0))) {
    return false;
  }
  const UniqueKey public_key(imported);
  Digest hashed = digest;
  RawSignature numbers = signature;
  return ::BCryptVerifySignature(public_key.get(), nullptr, hashed.data(), hashed.size(), numbers.data(),
                                 numbers.size(), 0) == 0;
}

}  // namespace marlix::signature

#include "signing.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <functional>

namespace marlix::signing {

struct PrivateKey::Key {
  EVP_PKEY* key = nullptr;
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() { EVP_PKEY_free(key); }
};

namespace {

bool IsP256(EVP_PKEY* key) {
  char curve[64] = {};
  return EVP_PKEY_base_id(key) == EVP_PKEY_EC &&
         EVP_PKEY_get_utf8_string_param(key, "group", curve, sizeof curve, nullptr) == 1 &&
         std::string(curve) == "prime256v1";
}

struct ContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// Signs whatever `feed` hands to the digest, piece by piece.
std::optional<std::string> Sign(EVP_PKEY* key, const std::function<bool(EVP_MD_CTX*)>& feed) {
  const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
  if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
      !feed(context.get())) {
    return std::nullopt;
  }
  std::size_t size = 0;
  if (EVP_DigestSignFinal(context.get(), nullptr, &size) != 1) return std::nullopt;
  std::string der(size, '\0');
  if (EVP_DigestSignFinal(context.get(), reinterpret_cast<unsigned char*>(der.data()), &size) != 1) {
    return std::nullopt;
  }
  der.resize(size);
  return der;
}

}  // namespace

PrivateKey::PrivateKey(std::unique_ptr<Key> key) : key_(std::move(key)) {}
PrivateKey::PrivateKey(PrivateKey&&) noexcept = default;
PrivateKey& PrivateKey::operator=(PrivateKey&&) noexcept = default;
PrivateKey::~PrivateKey() = default;

std::optional<PrivateKey> PrivateKey::Load(const std::string& pem_path, std::string& error) {
  std::FILE* file = std::fopen(pem_path.c_str(), "r");
  if (file == nullptr) {
    error = "cannot open " + pem_path;
    return std::nullopt;
  }
  auto key = std::make_unique<Key>();
  key->key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
  std::fclose(file);
  if (key->key == nullptr) {
    error = pem_path + " holds no PEM private key";
    return std::nullopt;
  }
  if (!IsP256(key->key)) {
    error = pem_path + " is not a P-256 (prime256v1) key";
    return std::nullopt;
  }
  return PrivateKey(std::move(key));
}

std::optional<PrivateKey> PrivateKey::Generate() {
  auto key = std::make_unique<Key>();
  key->key = EVP_EC_gen("P-256");
  if (key->key == nullptr) return std::nullopt;
  return PrivateKey(std::move(key));
}

std::optional<std::string> PrivateKey::SignBytes(std::string_view bytes) const {
  return Sign(key_->key, [&](EVP_MD_CTX* context) {
    return EVP_DigestSignUpdate(context, bytes.data(), bytes.size()) == 1;
  });
}

std::optional<std::string> PrivateKey::SignFile(const std::string& path) const {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  std::optional<std::string> der = Sign(key_->key, [&](EVP_MD_CTX* context) {
    char block[64 * 1024];
    std::size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
      if (EVP_DigestSignUpdate(context, block, got) != 1) return false;
    }
    return std::ferror(file) == 0;
  });
  std::fclose(file);
  return der;
}

}  // namespace marlix::signing

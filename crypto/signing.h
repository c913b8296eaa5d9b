// Signing with a publisher's private key, on Linux, for the tools that
// publish the service's files (now the tests' service server). The
// signature is what the programs verify (signature.h): ECDSA P-256 over
// SHA-256 in DER, as `openssl dgst -sha256 -sign` writes it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace marlix::signing {

class PrivateKey {
 public:
  // Reads a PEM private key (as `openssl genpkey -algorithm EC -pkeyopt
  // ec_paramgen_curve:P-256` or `openssl ecparam -genkey` write it); only a
  // P-256 key is taken. Nothing, and `error` set, otherwise.
  static std::optional<PrivateKey> Load(const std::string& pem_path, std::string& error);
  // A new P-256 key, kept only in memory.
  static std::optional<PrivateKey> Generate();

  PrivateKey(PrivateKey&&) noexcept;
  PrivateKey& operator=(PrivateKey&&) noexcept;
  ~PrivateKey();

  // The DER signature of `bytes`, or of the file at `path`; nothing when the
  // file cannot be read or libcrypto fails.
  std::optional<std::string> SignBytes(std::string_view bytes) const;
  std::optional<std::string> SignFile(const std::string& path) const;

 private:
  struct Key;
  explicit PrivateKey(std::unique_ptr<Key> key);
  std::unique_ptr<Key> key_;
};

}  // namespace marlix::signing

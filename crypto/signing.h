// The publisher's keys and detached signatures, on Linux, for the tools that
// publish the service's files and the tests' service server: ECDSA P-256 over
// SHA-256, the signature in DER, exactly as `openssl dgst -sha256 -sign KEY
// -out NAME.sig NAME` writes it, so that stock OpenSSL signs and checks the
// same, and the programs verify it (signature.h).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace marlix::signing {

// A P-256 key: a private key (which can sign and verify) or a public one
// (which can only verify).
class Key {
 public:
  ~Key();
  Key(Key&&) noexcept;
  Key& operator=(Key&&) noexcept;

  // Nothing, and `why` set, when the PEM file holds no P-256 key of that
  // kind, or (LoadPrivate) it is a private key that group or others can read:
  // it may be copied already, and signing with it would lend the publisher's
  // name to whoever has it.
  static std::optional<Key> LoadPrivate(const std::string& path, std::string& why);
  static std::optional<Key> LoadPublic(const std::string& path, std::string& why);
  // A new private key, kept only in memory.
  static std::optional<Key> Generate(std::string& why);

  // The DER signature of `bytes`, or of the file at `path`; nothing when the
  // key cannot sign or the file cannot be read.
  std::optional<std::string> Sign(std::string_view bytes) const;
  std::optional<std::string> SignFile(const std::string& path) const;
  bool Verify(std::string_view bytes, std::string_view signature) const;

  // Writes a private key to a new file readable by its owner alone, and its
  // public key as `openssl ec -pubout` writes it. Refuses to overwrite
  // either file. False, and `why` set, on any failure; nothing is left behind.
  bool WriteNewPair(const std::string& private_path, const std::string& public_path, std::string& why) const;

 private:
  struct Impl;
  explicit Key(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace marlix::signing

// The publisher's keys and detached signatures: ECDSA P-256 over SHA-256,
// the signature in DER, exactly as `openssl dgst -sha256 -sign KEY -out
// NAME.sig NAME` writes it, so that stock OpenSSL signs and checks the same.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace marlix::publish {

// A P-256 key loaded from a PEM file: a private key (which can sign and
// verify) or a public one (which can only verify).
class Key {
 public:
  ~Key();
  Key(Key&&) noexcept;
  Key& operator=(Key&&) noexcept;

  // Nothing, and `why` set, when the file holds no P-256 key of that kind,
  // or (LoadPrivate) it is a private key that group or others can read.
  static std::optional<Key> LoadPrivate(const std::string& path, std::string& why);
  static std::optional<Key> LoadPublic(const std::string& path, std::string& why);

  // The DER signature of `bytes`; nothing when the key cannot sign.
  std::optional<std::string> Sign(std::string_view bytes) const;
  bool Verify(std::string_view bytes, std::string_view signature) const;

 private:
  struct Impl;
  explicit Key(std::unique_ptr<Impl> impl);
  // `read` takes the key out of the open file (an EVP_PKEY, or null).
  static std::optional<Key> Load(const std::string& path, bool want_private, std::string& why,
                                 void* (*read)(std::FILE*));
  std::unique_ptr<Impl> impl_;
};

// Makes `dir` (and the folders above it) for a private key, readable and
// enterable by its owner alone (0700). A folder that is there already is
// taken only when group and others have no access to it. False, and `why`
// set, otherwise.
bool MakePrivateFolder(const std::string& dir, std::string& why);

// Makes a new key pair: the private key (readable by its owner alone) and
// its public key as `openssl ec -pubout` writes it. Refuses to overwrite
// either file. False, and `why` set, on any failure; nothing is left behind.
bool WriteNewKeyPair(const std::string& private_path, const std::string& public_path, std::string& why);

}  // namespace marlix::publish

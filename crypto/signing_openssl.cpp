#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include "file_stream.h"
#include "openssl_owners.h"
#include "signing.h"

namespace marlix::signing {

namespace {

std::string OpenSslError() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "no key in it";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

bool IsP256(EVP_PKEY* key) {
  char group[64] = {};
  std::size_t length = 0;
  return EVP_PKEY_get_base_id(key) == EVP_PKEY_EC && EVP_PKEY_get_group_name(key, group, sizeof group, &length) == 1 &&
         std::strcmp(group, "prime256v1") == 0;
}

// "0755" for the permission bits of `mode`.
std::string OctalMode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// The P-256 key that `read` takes from the PEM file at `path`, and the mode
// of the file that was read (not of whatever has its name now); null, and
// `why` set, when there is none.
UniquePkey ReadP256(const std::string& path, const char* kind, EVP_PKEY* (*read)(std::FILE*), mode_t& mode,
                    std::string& why) {
  const FileStream file = OpenFileStream(path, "rb");
  if (!file) {
    why = path + ": " + std::strerror(errno);
    return nullptr;
  }
  UniquePkey key(read(file.get()));
  struct stat st = {};
  // An unknown mode counts as readable by all.
  mode = ::fstat(fileno(file.get()), &st) == 0 ? st.st_mode : 0777;
  if (!key) {
    why = path + ": not a PEM " + std::string(kind) + " key (" + OpenSslError() + ")";
  } else if (!IsP256(key.get())) {
    why = path + ": not an ECDSA P-256 key";
    key.reset();
  }
  return key;
}

// Signs whatever `feed` hands to the digest, piece by piece.
std::optional<std::string> SignWith(EVP_PKEY* key, const std::function<bool(EVP_MD_CTX*)>& feed) {
  const UniqueMdContext context(EVP_MD_CTX_new());
  std::optional<std::string> der;
  std::size_t size = 0;
  if (context && EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key) == 1 && feed(context.get()) &&
      EVP_DigestSignFinal(context.get(), nullptr, &size) == 1) {
    std::string out(size, '\0');
    if (EVP_DigestSignFinal(context.get(), reinterpret_cast<unsigned char*>(out.data()), &size) == 1) {
      out.resize(size);
      der = std::move(out);
    }
  }
  ERR_clear_error();
  return der;
}

// Opens a new file that must not exist yet, with these permissions.
FileStream CreateNew(const std::string& path, mode_t mode, std::string& why) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    why = path + ": " +
          (errno == EEXIST ? std::string("is there already; a key is never overwritten")
                           : std::string(std::strerror(errno)));
    return nullptr;
  }
  return StreamOfDescriptor(fd, "wb");
}

// Writes with `write` and closes; false when either failed.
bool WriteAndClose(FileStream file, const std::function<bool(std::FILE*)>& write) {
  const bool written = write(file.get());
  return std::fclose(file.release()) == 0 && written;
}

}  // namespace

struct Key::Impl {
  UniquePkey key;
  bool has_private = false;
};

Key::Key(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Key::~Key() = default;
Key::Key(Key&&) noexcept = default;
Key& Key::operator=(Key&&) noexcept = default;

std::optional<Key> Key::LoadPrivate(const std::string& path, std::string& why) {
  mode_t mode = 0;
  UniquePkey key = ReadP256(
      path, "private", [](std::FILE* f) { return PEM_read_PrivateKey(f, nullptr, nullptr, nullptr); }, mode, why);
  if (!key) return std::nullopt;
  if ((mode & 077) != 0) {
    why = path + ": a private key that group or others can read (mode " + OctalMode(mode) +
          "); make it its owner's alone with chmod 600 " + path;
    return std::nullopt;
  }
  return Key(std::make_unique<Impl>(Impl{std::move(key), true}));
}

std::optional<Key> Key::LoadPublic(const std::string& path, std::string& why) {
  mode_t mode = 0;
  UniquePkey key = ReadP256(
      path, "public", [](std::FILE* f) { return PEM_read_PUBKEY(f, nullptr, nullptr, nullptr); }, mode, why);
  if (!key) return std::nullopt;
  return Key(std::make_unique<Impl>(Impl{std::move(key), false}));
}

std::optional<Key> Key::Generate(std::string& why) {
  UniquePkey key(EVP_EC_gen("P-256"));
  if (!key) {
    why = "cannot make a P-256 key: " + OpenSslError();
    return std::nullopt;
  }
  return Key(std::make_unique<Impl>(Impl{std::move(key), true}));
}

std::optional<std::string> Key::Sign(std::string_view bytes) const {
  if (!impl_->has_private) return std::nullopt;
  return SignWith(impl_->key.get(),
                  [&](EVP_MD_CTX* context) { return EVP_DigestSignUpdate(context, bytes.data(), bytes.size()) == 1; });
}

std::optional<std::string> Key::SignFile(const std::string& path) const {
  if (!impl_->has_private) return std::nullopt;
  const FileStream file = OpenFileStream(path, "rb");
  if (!file) return std::nullopt;
  return SignWith(impl_->key.get(), [&](EVP_MD_CTX* context) {
    char block[64 * 1024];
    std::size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) {
      if (EVP_DigestSignUpdate(context, block, got) != 1) return false;
    }
    return std::ferror(file.get()) == 0;
  });
}

bool Key::Verify(std::string_view bytes, std::string_view signature) const {
  const UniqueMdContext context(EVP_MD_CTX_new());
  const bool good =
      context && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, impl_->key.get()) == 1 &&
      EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                       reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) == 1;
  ERR_clear_error();
  return good;
}

bool Key::WriteNewPair(const std::string& private_path, const std::string& public_path, std::string& why) const {
  if (!impl_->has_private) {
    why = "a public key has no private half to write";
    return false;
  }
  if (::access(public_path.c_str(), F_OK) == 0) {
    why = public_path + ": is there already; a key is never overwritten";
    return false;
  }
  EVP_PKEY* const key = impl_->key.get();
  FileStream private_file = CreateNew(private_path, 0600, why);
  if (!private_file) return false;
  bool written = WriteAndClose(std::move(private_file), [&](std::FILE* f) {
    return PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  });
  if (written) {
    FileStream public_file = CreateNew(public_path, 0644, why);
    written = public_file &&
              WriteAndClose(std::move(public_file), [&](std::FILE* f) { return PEM_write_PUBKEY(f, key) == 1; });
    if (!written && why.empty()) ::unlink(public_path.c_str());
  }
  if (!written) {
    if (why.empty()) why = "cannot write the key files: " + std::string(std::strerror(errno));
    ::unlink(private_path.c_str());
  }
  ERR_clear_error();
  return written;
}

}  // namespace marlix::signing

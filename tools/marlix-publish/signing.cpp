#include "signing.h"

#include <fcntl.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace marlix::publish {

struct Key::Impl {
  EVP_PKEY* pkey = nullptr;
  bool has_private = false;
  ~Impl() { EVP_PKEY_free(pkey); }
};

Key::Key(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Key::~Key() = default;
Key::Key(Key&&) noexcept = default;
Key& Key::operator=(Key&&) noexcept = default;

namespace {

std::string OpenSslError() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "no key in it";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

// "0755" for the permission bits of `mode`.
std::string OctalMode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

bool IsP256(EVP_PKEY* pkey) {
  char group[64] = {};
  std::size_t length = 0;
  return EVP_PKEY_get_base_id(pkey) == EVP_PKEY_EC &&
         EVP_PKEY_get_group_name(pkey, group, sizeof group, &length) == 1 && std::strcmp(group, "prime256v1") == 0;
}

}  // namespace

std::optional<Key> Key::Load(const std::string& path, bool want_private, std::string& why, void* (*read)(std::FILE*)) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    why = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  auto* pkey = static_cast<EVP_PKEY*>(read(file));
  // The mode of the file that was read, not of whatever has its name now.
  struct stat st = {};
  const bool stated = ::fstat(fileno(file), &st) == 0;
  std::fclose(file);
  if (pkey == nullptr) {
    why = path + ": not a PEM " + (want_private ? "private" : "public") + " key (" + OpenSslError() + ")";
    return std::nullopt;
  }
  auto impl = std::make_unique<Key::Impl>();
  impl->pkey = pkey;
  impl->has_private = want_private;
  if (!IsP256(pkey)) {
    why = path + ": not an ECDSA P-256 key";
    return std::nullopt;
  }
  // A private key others could read may be copied already; signing with it
  // would lend the publisher's name to whoever has it.
  if (want_private && (!stated || (st.st_mode & 077) != 0)) {
    why = path + ": a private key that group or others can read (mode " + OctalMode(st.st_mode) +
          "); make it its owner's alone with chmod 600 " + path;
    return std::nullopt;
  }
  return Key(std::move(impl));
}

std::optional<Key> Key::LoadPrivate(const std::string& path, std::string& why) {
  return Load(path, true, why,
              [](std::FILE* f) -> void* { return PEM_read_PrivateKey(f, nullptr, nullptr, nullptr); });
}

std::optional<Key> Key::LoadPublic(const std::string& path, std::string& why) {
  return Load(path, false, why, [](std::FILE* f) -> void* { return PEM_read_PUBKEY(f, nullptr, nullptr, nullptr); });
}

std::optional<std::string> Key::Sign(std::string_view bytes) const {
  if (!impl_->has_private) return std::nullopt;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  std::optional<std::string> signature;
  std::size_t length = 0;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  if (ctx && EVP_DigestSignInit(ctx, nullptr, EVP_sha256(), nullptr, impl_->pkey) == 1 &&
      EVP_DigestSign(ctx, nullptr, &length, data, bytes.size()) == 1) {
    std::string out(length, '\0');
    if (EVP_DigestSign(ctx, reinterpret_cast<unsigned char*>(out.data()), &length, data, bytes.size()) == 1) {
      out.resize(length);
      signature = std::move(out);
    }
  }
  EVP_MD_CTX_free(ctx);
  ERR_clear_error();
  return signature;
}

bool Key::Verify(std::string_view bytes, std::string_view signature) const {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  const bool good = ctx && EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, impl_->pkey) == 1 &&
                    EVP_DigestVerify(ctx, reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                                     reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) == 1;
  EVP_MD_CTX_free(ctx);
  ERR_clear_error();
  return good;
}

namespace {

// Opens a new file that must not exist yet, with these permissions.
std::FILE* CreateNew(const std::string& path, mode_t mode, std::string& why) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    why = path + ": " + (errno == EEXIST ? std::string("is there already; a key is never overwritten")
                                         : std::string(std::strerror(errno)));
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) ::close(fd);
  return file;
}

}  // namespace

bool MakePrivateFolder(const std::string& dir, std::string& why) {
  struct stat st = {};
  if (::stat(dir.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      why = dir + ": " + std::strerror(errno);
      return false;
    }
    // The folders above it are ordinary ones; only the key's own is closed.
    std::filesystem::path path = std::filesystem::path(dir).lexically_normal();
    if (!path.has_filename()) path = path.parent_path();  // "keys/" names "keys"
    const std::filesystem::path parent = path.parent_path();
    std::error_code error;
    if (!parent.empty()) std::filesystem::create_directories(parent, error);
    if (error) {
      why = dir + ": cannot be made: " + error.message();
      return false;
    }
    if (::mkdir(path.c_str(), 0700) == 0) return true;
    if (errno != EEXIST || ::stat(dir.c_str(), &st) != 0) {
      why = dir + ": cannot be made: " + std::strerror(errno);
      return false;
    }
  }
  if (!S_ISDIR(st.st_mode)) {
    why = dir + ": is not a folder";
    return false;
  }
  if ((st.st_mode & 077) != 0) {
    why = dir + ": group or others can read or enter this folder (mode " + OctalMode(st.st_mode) +
          "); a private key goes only in a folder of its owner's alone: chmod 700 " + dir +
          ", or name a new folder";
    return false;
  }
  return true;
}

bool WriteNewKeyPair(const std::string& private_path, const std::string& public_path, std::string& why) {
  if (::access(public_path.c_str(), F_OK) == 0) {
    why = public_path + ": is there already; a key is never overwritten";
    return false;
  }
  EVP_PKEY* pkey = EVP_EC_gen("P-256");
  if (pkey == nullptr) {
    why = "cannot make a P-256 key: " + OpenSslError();
    return false;
  }
  bool written = false;
  if (std::FILE* file = CreateNew(private_path, 0600, why)) {
    written = PEM_write_PrivateKey(file, pkey, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    written = std::fclose(file) == 0 && written;
    if (written) {
      if (std::FILE* pub = CreateNew(public_path, 0644, why)) {
        written = PEM_write_PUBKEY(pub, pkey) == 1;
        written = std::fclose(pub) == 0 && written;
        if (!written) ::unlink(public_path.c_str());
      } else {
        written = false;
      }
    }
    if (!written) {
      if (why.empty()) why = "cannot write the key files: " + std::string(std::strerror(errno));
      ::unlink(private_path.c_str());
    }
  }
  EVP_PKEY_free(pkey);
  return written;
}

}  // namespace marlix::publish

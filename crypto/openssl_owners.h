// libcrypto's objects that the signing and the verifying hold, each with the
// call that frees it (Linux).
#pragma once

#include <openssl/evp.h>

#include <memory>

namespace marlix {

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct PkeyContextFree {
  void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};

// A key, public or private.
using UniquePkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
// A digest (and digest-signing) context.
using UniqueMdContext = std::unique_ptr<EVP_MD_CTX, MdContextFree>;
// A context of a key's own operation, as verifying.
using UniquePkeyContext = std::unique_ptr<EVP_PKEY_CTX, PkeyContextFree>;

}  // namespace marlix

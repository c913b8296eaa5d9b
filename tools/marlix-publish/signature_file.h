// The publisher's signature file: NAME.sig beside NAME, made with the release
// key, checked against the bytes, and written whole under a temporary name
// that Place() exchanges for NAME.sig.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "output_file.h"
#include "signature.h"
#include "signing.h"

namespace marlix::publish {

enum class SignatureFault { kNone, kNotSigned, kNotOpened, kNotWritten };

struct SignatureFile {
  std::unique_ptr<OutputFile> file;  // written and closed; null on a fault
  SignatureFault fault = SignatureFault::kNone;
};

// `dir`: a path the operator names, or a Folder opened already.
template <class Dir>
SignatureFile WriteSignatureFile(const signing::Key& key, std::string_view bytes, const Dir& dir,
                                 const std::string& name) {
  SignatureFile out;
  const std::optional<std::string> signature = key.Sign(bytes);
  if (!signature || !key.Verify(bytes, *signature)) {
    out.fault = SignatureFault::kNotSigned;
    return out;
  }
  auto file = std::make_unique<OutputFile>(dir, name + signature::kSuffix);
  if (!file->opened()) {
    out.fault = SignatureFault::kNotOpened;
    return out;
  }
  file->Write(*signature);
  if (!file->Close()) {
    out.fault = SignatureFault::kNotWritten;
    return out;
  }
  out.file = std::move(file);
  return out;
}

}  // namespace marlix::publish

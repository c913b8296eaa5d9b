// The signature check over libcrypto, with the openssl command line as the
// independent signer: what it signs with the build's key verifies, and only
// the strict DER it writes is read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "service_server.h"
#include "signature.h"

namespace {

namespace fs = std::filesystem;
using namespace marlix::signature;
using marlix_test::ReadBytes;

void Openssl(const std::string& args) {
  std::string command = "'" MARLIX_OPENSSL "' ";
  command += args;
  command += " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << args;
}

class SignatureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = marlix_test::MakeTempDir("signature");
    data_ = marlix_test::PatternBytes(100000, 7);
    marlix_test::WriteBytes(dir_ / "data", data_);
    Sign(MARLIX_TEST_SIGNING_KEY, "data.sig");
    der_ = ReadBytes(dir_ / "data.sig");
    // Another key, and its point as the programs would carry it.
    Openssl("genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out '" + (dir_ / "other.pem").string() + "'");
    Openssl("ec -in '" + (dir_ / "other.pem").string() + "' -pubout -outform DER -out '" +
            (dir_ / "other.der").string() + "'");
    const std::string spki = ReadBytes(dir_ / "other.der");
    ASSERT_EQ(spki.size(), 91u);
    std::copy(spki.end() - 65, spki.end(), other_.begin());
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Sign(const std::string& key, const char* signature) {
    Openssl("dgst -sha256 -sign '" + key + "' -out '" + (dir_ / signature).string() + "' '" + (dir_ / "data").string() +
            "'");
  }

  fs::path dir_;
  std::string data_;
  std::string der_;
  PublicKey other_{};
};

// What openssl signs with the build's key verifies, from memory and from disk;
// while a publisher rotates keys, either of two keys verifies.
TEST_F(SignatureTest, WhatOpensslSignsWithOneOfTheKeysVerifies) {
  ASSERT_FALSE(BuiltInKeys().empty());
  const PublicKey built_in = BuiltInKeys()[0];
  EXPECT_TRUE(VerifyBytes(data_, der_));
  EXPECT_TRUE(VerifyFile((dir_ / "data").string(), der_));
  EXPECT_FALSE(VerifyBytes(data_ + "x", der_));
  EXPECT_FALSE(VerifyBytes(data_, der_, std::vector<PublicKey>{other_}));
  EXPECT_TRUE(VerifyBytes(data_, der_, std::vector<PublicKey>{other_, built_in}));
  Sign((dir_ / "other.pem").string(), "other.sig");
  const std::string other_der = ReadBytes(dir_ / "other.sig");
  EXPECT_FALSE(VerifyBytes(data_, other_der));
  EXPECT_TRUE(VerifyBytes(data_, other_der, std::vector<PublicKey>{built_in, other_}));
}

// Every other encoding of the same two numbers, and near misses of the form,
// are refused: a signature is read one way only.
TEST_F(SignatureTest, OnlyTheStrictDerFormIsRead) {
  const std::optional<RawSignature> raw = FromDer(der_);
  ASSERT_TRUE(raw.has_value());
  EXPECT_EQ(ToDer(*raw), der_);
  // A DER element: its tag, a one-byte length and the content.
  auto element = [](char tag, const std::string& content) {
    std::string der(1, tag);
    der += static_cast<char>(content.size());
    return der + content;
  };
  auto integer = [&](const std::string& value) { return element('\x02', value); };
  auto sequence = [&](const std::string& content) { return element('\x30', content); };
  // r and s in their shortest forms, as ToDer writes them.
  std::string r = std::string(reinterpret_cast<const char*>(raw->data()), 32);
  std::string s = std::string(reinterpret_cast<const char*>(raw->data() + 32), 32);
  while (r.size() > 1 && r[0] == 0) r.erase(0, 1);
  while (s.size() > 1 && s[0] == 0) s.erase(0, 1);
  if (static_cast<unsigned char>(r[0]) & 0x80) r.insert(0, 1, '\0');
  if (static_cast<unsigned char>(s[0]) & 0x80) s.insert(0, 1, '\0');
  ASSERT_EQ(sequence(integer(r) + integer(s)), der_);

  const std::string body = integer(r) + integer(s);
  const std::vector<std::pair<const char*, std::string>> refused = {
      {"empty", ""},
      {"a byte after it", der_ + '\0'},
      {"the sequence's length in the long form", std::string("\x30\x81", 2) + sequence(body).substr(1)},
      {"a sequence length one too long", sequence(body + '\0').substr(0, body.size() + 2)},
      {"a set, not a sequence", element('\x31', body)},
      {"a bit string, not an integer", sequence(element('\x03', r) + integer(s))},
      {"r with a needless leading zero", sequence(integer(std::string(1, '\0').append(r)) + integer(s))},
      {"r negative", sequence(integer(std::string(1, '\x80').append(r.substr(1))) + integer(s))},
      {"r zero", sequence(integer(std::string(1, '\0')) + integer(s))},
      {"r of 33 significant bytes", sequence(integer(std::string(1, '\x01').append(32, '\x11')) + integer(s))},
      {"s missing", sequence(integer(r))},
      {"a third number", sequence(body + integer("\x01"))},
  };
  for (const auto& [what, der] : refused) {
    EXPECT_FALSE(FromDer(der).has_value()) << what;
    EXPECT_FALSE(VerifyBytes(data_, der)) << what;
  }
}

}  // namespace

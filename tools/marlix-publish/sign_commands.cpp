#include "sign_commands.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "command_util.h"
#include "key_folder.h"
#include "output_file.h"
#include "signature_file.h"
#include "signing.h"

namespace publish = marlix::publish;
using publish::Fail;
using publish::UsageError;

const char kKeygenUsage[] = "  marlix-publish keygen DIR\n";
const char kSignUsage[] = "  marlix-publish sign --key PRIVATE.pem FILE...\n";
const char kVerifyUsage[] = "  marlix-publish verify --key PUBLIC.pem FILE...\n";

namespace {

constexpr char kPrivateName[] = "marlix-private.pem";
constexpr char kPublicName[] = "marlix-public.pem";

// `--key FILE` and then at least one file, as sign and verify take them.
struct KeyAndFiles {
  std::string key;
  std::vector<std::string> files;
};

std::optional<int> ParseKeyAndFiles(int argc, char** argv, const char* usage, KeyAndFiles& out) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--key") {
      if (i + 1 >= argc) return UsageError("--key needs a value", usage);
      out.key = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      std::printf("Usage:\n%s", usage);
      return publish::kExitDone;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option '" + std::string(arg) + "'", usage);
    } else {
      out.files.emplace_back(arg);
    }
  }
  if (out.key.empty()) return UsageError("no --key given", usage);
  if (out.files.empty()) return UsageError("no file given", usage);
  return std::nullopt;
}

}  // namespace

int RunKeygenCommand(int argc, char** argv) {
  if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
    std::printf("Usage:\n%s", kKeygenUsage);
    return publish::kExitDone;
  }
  if (argc != 2) return UsageError("keygen takes one folder", kKeygenUsage);
  const std::filesystem::path dir = argv[1];
  std::string why;
  if (!publish::MakePrivateFolder(dir.string(), why)) return Fail(why);
  const std::string private_path = (dir / kPrivateName).string(), public_path = (dir / kPublicName).string();
  const std::optional<marlix::signing::Key> key = marlix::signing::Key::Generate(why);
  if (!key || !key->WriteNewPair(private_path, public_path, why)) return Fail(why);
  std::printf(
      "marlix-publish: wrote %s (keep it off the web server, readable by you alone) and %s (build the\n"
      "programs with -DMARLIX_UPDATE_KEY=%s)\n",
      private_path.c_str(), public_path.c_str(), public_path.c_str());
  return publish::kExitDone;
}

int RunSignCommand(int argc, char** argv) {
  KeyAndFiles args;
  if (std::optional<int> done = ParseKeyAndFiles(argc, argv, kSignUsage, args)) return *done;
  std::string why;
  const std::optional<marlix::signing::Key> key = marlix::signing::Key::LoadPrivate(args.key, why);
  if (!key) return Fail(why);
  for (const std::string& path : args.files) {
    const std::optional<std::string> bytes = publish::ReadWholeFile(path);
    if (!bytes) return Fail(path + ": cannot be read: " + std::strerror(errno));
    const std::filesystem::path file(path);
    const publish::SignatureFile sig = publish::WriteSignatureFile(
        *key, *bytes, file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path(),
        file.filename().string());
    if (sig.fault == publish::SignatureFault::kNotSigned) return Fail(path + ": cannot be signed");
    if (!sig.file || !sig.file->Place()) return Fail(path + ".sig: cannot be written");
    // Checked as a client would: the signature read back against the file.
    const std::optional<std::string> written = publish::ReadWholeFile(path + ".sig");
    if (!written || !key->Verify(*bytes, *written)) return Fail(path + ".sig: does not verify after writing");
    std::printf("signed %s\n", path.c_str());
  }
  return publish::kExitDone;
}

int RunVerifyCommand(int argc, char** argv) {
  KeyAndFiles args;
  if (std::optional<int> done = ParseKeyAndFiles(argc, argv, kVerifyUsage, args)) return *done;
  std::string why;
  const std::optional<marlix::signing::Key> key = marlix::signing::Key::LoadPublic(args.key, why);
  if (!key) return Fail(why);
  int status = publish::kExitDone;
  for (const std::string& path : args.files) {
    const std::optional<std::string> bytes = publish::ReadWholeFile(path);
    const std::optional<std::string> signature = publish::ReadWholeFile(path + ".sig");
    std::string failure;
    if (!bytes) {
      failure = "cannot be read";
    } else if (!signature) {
      failure = "has no signature " + path + ".sig";
    } else if (!key->Verify(*bytes, *signature)) {
      failure = "does not verify with " + args.key;
    } else {
      std::printf("%s: verified\n", path.c_str());
      continue;
    }
    std::fprintf(stderr, "%s: %s\n", path.c_str(), failure.c_str());
    status = publish::kExitFailed;
  }
  return status;
}

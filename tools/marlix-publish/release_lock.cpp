#include "release_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace marlix::publish {

std::optional<ReleaseLock> ReleaseLock::Take(const Folder& served, std::string& why) {
  const std::string path = served.PathOf(kReleaseLockFile);
  bool told = false;
  for (;;) {
    UniqueFd fd(openat(served.fd(), kReleaseLockFile, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    struct stat held {};
    if (!fd || fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode)) {
      why = path + ": " +
            (fd               ? "not a plain file"
             : errno == ELOOP ? "a link"
                              : std::strerror(errno)) +
            " where the release lock should be; remove it (nothing was published)";
      return std::nullopt;
    }
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK) {
        why = path + ": cannot be locked: " + std::strerror(errno);
        return std::nullopt;
      }
      if (!told) {
        std::fprintf(stderr,
                     "marlix-publish: another release into %s is running (it holds %s); waiting for it to end\n",
                     served.path().c_str(), path.c_str());
        told = true;
      }
      while (flock(fd.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
          why = path + ": cannot be locked: " + std::strerror(errno);
          return std::nullopt;
        }
      }
    }
    // Removed or replaced while this release waited: that lock guards nothing.
    struct stat named {};
    if (fstatat(served.fd(), kReleaseLockFile, &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_dev != held.st_dev ||
        named.st_ino != held.st_ino) {
      continue;
    }
    return ReleaseLock(std::move(fd));
  }
}

}  // namespace marlix::publish

#include "common/OutputLock.h"

#include "common/Error.h"
#include "common/Interrupt.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace quarvel {

std::string OutputLockFileName(const std::string& stem) {
  const fs::path path(stem);
  const fs::path dir = path.parent_path();
  const std::string name = "." + path.filename().string() + ".lock";
  return dir.empty() ? name : (dir / name).string();
}

TOutputLock::TOutputLock(std::string lockFile, const std::string& setName, bool wait)
    : File(std::move(lockFile)) {
  auto fail = [&](const std::string& what, int err) {
    throw Error(
        Located(File, 0, "cannot lock the output set: " + what + ": " + std::strerror(err)));
  };
  for (;;) {
    // O_NOFOLLOW: a link planted under the lock file's name must not make us create or
    // lock a file somewhere else.
    const int fd = ::open(File.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
      fail("cannot open the lock file", errno);
    // A waiting writer asks again every few milliseconds rather than block in flock:
    // the kernel restarts a blocked flock after our signal handlers (SA_RESTART), so
    // Ctrl-C would go unheard until the other render let go.
    int rc;
    while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 &&
           (errno == EINTR || (wait && errno == EWOULDBLOCK))) {
      if (errno == EWOULDBLOCK) {
        if (InterruptSignal() != 0) {
          ::close(fd);
          ThrowIfInterrupted();
        }
        ::usleep(20000);
      }
    }
    if (rc != 0) {
      const int err = errno;
      ::close(fd);
      if (err == EWOULDBLOCK)
        throw Error(setName + " is being written by another render");
      fail("flock failed", err);
    }
    // The holder before us removes the file when it is done: a lock on a file that no
    // longer has this name locks nothing that the next writer would see.
    struct stat held {
    }, named{};
    if (::fstat(fd, &held) == 0 && ::stat(File.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      Fd = fd;
      return;
    }
    ::close(fd);
  }
}

TOutputLock::~TOutputLock() {
  // Removed while still held: a writer that opens the name after this gets a new file,
  // and one that waits on the old file sees that it was removed and starts again.
  ::unlink(File.c_str());
  ::close(Fd);
}

} // namespace quarvel

#include "common/AtomicFile.h"

#include "common/Error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace quarvel {

namespace {

[[noreturn]] void Fail(const std::string& fileName, const std::string& what, int err) {
  throw Error(Located(fileName, 0, "cannot write file: " + what + ": " + std::strerror(err)));
}

} // namespace

void WriteFileAtomic(const std::string& fileName, const void* data, size_t size) {
  const fs::path target(fileName);
  std::error_code ec;
  const fs::path dir = target.parent_path();
  if (!dir.empty()) {
    fs::create_directories(dir, ec);
    if (ec)
      Fail(fileName, "cannot create folder " + dir.string(), ec.value());
  }
  if (fs::is_directory(target, ec))
    Fail(fileName, "a folder has that name", EISDIR);

  // mkstemp in the target's folder, so the final rename never crosses file systems.
  std::string tmpl = (dir.empty() ? fs::path(".") : dir).string() + "/." +
                     target.filename().string() + ".tmp-XXXXXX";
  int fd = ::mkstemp(tmpl.data());
  if (fd < 0)
    Fail(fileName, "cannot create temporary file", errno);

  auto abandon = [&](const std::string& what, int err) {
    ::close(fd);
    ::unlink(tmpl.c_str());
    Fail(fileName, what, err);
  };

  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t left = size;
  while (left > 0) {
    ssize_t n = ::write(fd, bytes, left);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      abandon("write failed", errno);
    }
    bytes += n;
    left -= static_cast<size_t>(n);
  }
  // Output files get the usual permissions (mkstemp makes them owner-only).
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  if (::fsync(fd) != 0 && errno != EINVAL)
    abandon("flush failed", errno);
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(tmpl.c_str());
    Fail(fileName, "close failed", err);
  }
  if (::rename(tmpl.c_str(), fileName.c_str()) != 0) {
    int err = errno;
    ::unlink(tmpl.c_str());
    Fail(fileName, "cannot replace file", err);
  }
}

} // namespace quarvel

// The platform contract (platform/Platform.h) on POSIX systems (Linux).
#include "platform/Platform.h"
#include "platform/PosixInternal.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvel::platform {

// --- Files ---

namespace {

int64_t Nanoseconds(const timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

TFileStatus StatusFrom(const struct stat& st) {
  TFileStatus status;
  status.Kind = S_ISREG(st.st_mode)    ? TFileKind::Regular
                : S_ISDIR(st.st_mode)  ? TFileKind::Directory
                : S_ISFIFO(st.st_mode) ? TFileKind::Pipe
                : S_ISLNK(st.st_mode)  ? TFileKind::Link
                                       : TFileKind::Other;
  status.Size = static_cast<uint64_t>(st.st_size);
  status.MTimeNs = Nanoseconds(st.st_mtim);
  status.CTimeNs = Nanoseconds(st.st_ctim);
  status.Device = static_cast<uint64_t>(st.st_dev);
  status.Identity = static_cast<uint64_t>(st.st_ino);
  return status;
}

int Descriptor(TFileHandle file) {
  return static_cast<int>(file);
}

} // namespace

std::optional<TFileStatus> StatusOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return std::nullopt;
  return StatusFrom(st);
}

std::optional<TFileStatus> StatusOfName(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0)
    return std::nullopt;
  return StatusFrom(st);
}

std::optional<TFileStatus> StatusOf(TFileHandle file) {
  struct stat st {};
  if (::fstat(Descriptor(file), &st) != 0)
    return std::nullopt;
  return StatusFrom(st);
}

bool CanRead(const std::string& path) {
  return ::access(path.c_str(), R_OK) == 0;
}

bool posix::WaitForInput(int fd) {
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    const int rc = ::poll(&p, 1, 100);
    if (rc > 0 || (rc < 0 && errno != EINTR))
      return true; // the read that follows gives the data, the end or the error
    if (StopRequested()) {
      errno = EINTR;
      return false;
    }
  }
}

TFileHandle OpenForReading(const std::string& path, bool wait, bool followLinks) {
  // Never a blocking open: on a pipe it waits for a writer in the kernel, where the stop
  // handlers (installed with SA_RESTART) cannot end the wait.
  const int fd =
      ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW));
  if (fd < 0 || !wait)
    return fd < 0 ? NoFile : fd;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode)) {
    // Without a writer yet, a read would see the end at once; poll() waits for the first
    // writer's data or its leaving (Linux reports no hang-up before a writer came).
    if (!posix::WaitForInput(fd)) {
      ::close(fd);
      errno = EINTR;
      return NoFile;
    }
  } else {
    // Anything but a pipe is read as a blocking open would have read it.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  }
  return fd;
}

int64_t Read(TFileHandle file, void* data, size_t size) {
  for (;;) {
    const ssize_t n = ::read(Descriptor(file), data, size);
    if (n >= 0)
      return n;
    if (errno == EAGAIN) {
      // A pipe opened to wait: its data has not come yet.
      if (!posix::WaitForInput(Descriptor(file)))
        return -1;
    } else if (errno != EINTR || posix::StopRequested()) {
      return -1;
    }
  }
}

int64_t Write(TFileHandle file, const void* data, size_t size) {
  for (;;) {
    const ssize_t n = ::write(Descriptor(file), data, size);
    if (n >= 0 || errno != EINTR)
      return n;
  }
}

int Sync(TFileHandle file) {
  return ::fsync(Descriptor(file));
}

int Close(TFileHandle file) {
  return ::close(Descriptor(file));
}

TFileHandle MakeTemporary(std::string& pattern) {
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0)
    return NoFile;
  // mkstemp makes the file owner-only; an output file gets the usual permissions.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  return fd;
}

std::string TemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

bool MakeTemporaryFolder(std::string& pattern) {
  return ::mkdtemp(pattern.data()) != nullptr;
}

int Link(const std::string& existing, const std::string& newName) {
  return ::link(existing.c_str(), newName.c_str());
}

int Replace(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str());
}

int Remove(const std::string& name) {
  return ::unlink(name.c_str());
}

TFileHandle OpenLockFile(const std::string& path) {
  // O_NOFOLLOW: a link planted under the lock file's name must not make us create or
  // lock a file somewhere else.
  // O_NONBLOCK: a FIFO planted there would otherwise hold the open until someone writes.
  const int fd =
      ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
  return fd < 0 ? NoFile : fd;
}

int TryLock(TFileHandle file, bool shared) {
  for (;;) {
    const int rc = ::flock(Descriptor(file), (shared ? LOCK_SH : LOCK_EX) | LOCK_NB);
    if (rc == 0 || errno != EINTR)
      return rc;
  }
}

bool WindowsFileNames() {
  return false; // "C:", "nul.txt" and "a:b" are ordinary names here
}

std::string ProgramPath() {
  char exe[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  return n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string();
}

std::string UserCacheFolder() {
  // A relative value would name a different folder from every working folder.
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg && *xdg == '/')
    return xdg;
  const char* home = std::getenv("HOME");
  if (home && *home == '/')
    return std::string(home) + "/.cache";
  return std::string();
}

std::string MachineKey() {
  std::ifstream in("/etc/machine-id");
  std::string id;
  std::getline(in, id);
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  return id + " " + host;
}

std::vector<std::string> GraphicsDevices() {
  std::vector<std::string> nodes;
  if (DIR* dir = ::opendir("/dev/dri")) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..")
        nodes.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(nodes.begin(), nodes.end());
  return nodes;
}

std::vector<std::string> LoadedLibraries() {
  std::ifstream maps("/proc/self/maps");
  std::vector<std::string> libraries;
  std::string line;
  while (std::getline(maps, line)) {
    const size_t slash = line.find('/');
    if (slash == std::string::npos)
      continue;
    const std::string path = line.substr(slash);
    if (path.find(".so") == std::string::npos)
      continue;
    if (std::find(libraries.begin(), libraries.end(), path) == libraries.end())
      libraries.push_back(path);
  }
  return libraries;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

std::vector<std::string> Environment() {
  std::vector<std::string> entries;
  for (char** e = environ; *e; ++e)
    entries.emplace_back(*e);
  return entries;
}

void SleepMs(int milliseconds) {
  ::usleep(static_cast<useconds_t>(milliseconds) * 1000);
}

} // namespace quarvel::platform

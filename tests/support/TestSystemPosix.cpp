// The tests' system calls on POSIX (see TestSystem.h).
#include "support/TestSystem.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quarvel::test {

const bool HasNamedPipes = true;
const bool HasDeviceFiles = true;
const bool HasSymbolicLinks = true;
const bool TrialHooksReachTheChild = true;
const bool HasCaseDistinctNames = true;
const bool HasAnyByteNames = true;
const bool WindowsBuild = false;

int ProcessId() {
  return static_cast<int>(::getpid());
}

unsigned NewFilePermissions() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

unsigned PermissionsOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    return 0;
  return info.st_mode & 0777;
}

bool MakeNamedPipe(const std::string& path) {
  return ::mkfifo(path.c_str(), 0600) == 0;
}

void SetEnvironment(const std::string& name, const char* value) {
  if (value)
    ::setenv(name.c_str(), value, 1);
  else
    ::unsetenv(name.c_str());
}

int ExitStatus(int systemResult) {
  return systemResult != -1 && WIFEXITED(systemResult) ? WEXITSTATUS(systemResult) : -1;
}

bool SetModificationTime(const std::string& path, int64_t nanoseconds) {
  struct timespec times[2] = {};
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(nanoseconds / 1000000000);
  times[1].tv_nsec = static_cast<long>(nanoseconds % 1000000000);
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

namespace {
size_t PageSize() {
  return static_cast<size_t>(::sysconf(_SC_PAGESIZE));
}
size_t Readable(size_t size) {
  return (size + PageSize() - 1) / PageSize() * PageSize();
}
} // namespace

uint8_t* AllocateGuarded(size_t size) {
  const size_t readable = Readable(size);
  void* memory = ::mmap(nullptr, readable + PageSize(), PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED)
    throw std::runtime_error("mmap failed");
  uint8_t* base = static_cast<uint8_t*>(memory);
  if (::mprotect(base + readable, PageSize(), PROT_NONE) != 0)
    throw std::runtime_error("mprotect failed");
  return base + readable - size;
}

void FreeGuarded(uint8_t* bytes, size_t size) {
  const size_t readable = Readable(size);
  ::munmap(bytes + size - readable, readable + PageSize());
}

namespace {

std::string ReadAndRemove(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  in.close();
  ::unlink(path.c_str());
  return text.str();
}

} // namespace

extern "C" char** environ;

TProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment, const std::string& folder,
                       bool mergeErrors) {
  // Output into files, read once the program has ended: no pipe to keep drained.
  static int counter = 0;
  const char* tmp = std::getenv("TMPDIR");
  const std::string stem = std::string(tmp && *tmp ? tmp : "/tmp") + "/quarvel-run-" +
                           std::to_string(::getpid()) + "-" + std::to_string(++counter);
  const std::string outPath = stem + ".out", errPath = stem + ".err";

  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const std::string& a : environment)
      replaced = replaced || entry.compare(0, a.find('=') + 1, a, 0, a.find('=') + 1) == 0;
    if (!replaced)
      env.push_back(entry);
  }
  env.insert(env.end(), environment.begin(), environment.end());
  std::vector<char*> envp, argv;
  for (std::string& e : env)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = {program};
  args.insert(args.end(), arguments.begin(), arguments.end());
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  if (mergeErrors)
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  else
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
  if (!folder.empty())
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t pid = -1;
  const int failed =
      ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  TProgramRun run;
  if (failed == 0) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  run.Out = ReadAndRemove(outPath);
  if (!mergeErrors)
    run.Err = ReadAndRemove(errPath);
  return run;
}

void WaitForever() {
  for (;;)
    ::pause();
}

} // namespace quarvel::test

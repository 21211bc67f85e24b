// What the tests themselves ask of the operating system beyond the C++ library and
// platform/Platform.h: one source file per system implements it (TestSystemPosix.cpp,
// TestSystemWin32.cpp; tests/CMakeLists.txt picks the one of the system built for), so the
// tests carry no system headers and no #ifdef of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarvel::test {

// Whether this system has what a case needs; a case without it is skipped with the reason.
// Named pipes in folders (mkfifo): none on Windows, whose pipes live in their own namespace.
extern const bool HasNamedPipes;
// Devices under /dev (/dev/zero, /dev/null) that a file name can reach.
extern const bool HasDeviceFiles;

// Symbolic links made by std::filesystem: Windows' need a privilege a test cannot count on
// (and MinGW's library does not make them).
extern const bool HasSymbolicLinks;

// Whether a scene trial's test hook (a function of this process) runs in the isolated
// child: a forked child has it; the Windows worker, the program started anew, does not.
extern const bool TrialHooksReachTheChild;

// Whether two names that differ only in letter case can name two files in one folder (not
// on Windows' file systems, nor under Wine).
extern const bool HasCaseDistinctNames;
// Whether a file name can hold any byte but '/' and NUL (bytes that are not UTF-8, tabs,
// control bytes): Windows' names are UTF-16 and refuse control characters.
extern const bool HasAnyByteNames;
// Whether this is the Windows build: only for the cases skipped there because of a fault of
// the program on Windows not mended yet (each skip names it).
extern const bool WindowsBuild;

// The id of this process (names of per-process folders).
int ProcessId();

// The permission bits (0777 at most) a file made with the usual rights gets: 0666 less the
// user's file-creation mask on POSIX; on Windows what the C library shows for a writable
// file.
unsigned NewFilePermissions();
// The permission bits of the file `path` names, as the C library shows them.
unsigned PermissionsOf(const std::string& path);

// Makes a named pipe at `path`; false when it cannot (see HasNamedPipes).
bool MakeNamedPipe(const std::string& path);

// Sets (value not null) or removes the environment variable `name` of this process.
void SetEnvironment(const std::string& name, const char* value);

// The exit status of a command run by std::system from what std::system returned; -1 when
// the command did not exit by itself (a signal ended it, or no shell could run).
int ExitStatus(int systemResult);

// Sets the file's last modification time, in ns since 1970 (as platform::TFileStatus
// gives it), leaving its contents alone. False on failure.
bool SetModificationTime(const std::string& path, int64_t nanoseconds);

// `size` readable and writable bytes right before a page that cannot be read at all, so
// that reading even one byte past their end crashes. FreeGuarded gives the memory back.
uint8_t* AllocateGuarded(size_t size);
void FreeGuarded(uint8_t* bytes, size_t size);

// A program run to its end by RunProgram.
struct TProgramRun {
  int Status = -1; // the exit status; -1 when it did not exit by itself or could not start
  std::string Out; // standard output (and error, when merged)
  std::string Err;
};
// Runs `program` with `arguments` (without the program's name) from the folder `folder`
// ("": this one), with this process's environment and the assignments `environment`
// ("NAME=value") over it, standard input from the null device, and standard output and
// error kept apart (or both in Out with `mergeErrors`), waiting for it to end.
TProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment = {},
                       const std::string& folder = "", bool mergeErrors = false);

// The words of a test's command line as a POSIX shell splits it: blanks separate, '...'
// quotes (the only quoting the tests' command lines use). Not system-specific.
std::vector<std::string> ShellWords(const std::string& line);

// Waits until the process is ended from outside (a child that must hang).
[[noreturn]] void WaitForever();

} // namespace quarvel::test

// The tests' system calls on Windows (see TestSystem.h).
#include "support/TestSystem.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace quarvel::test {

const bool HasNamedPipes = false;
const bool HasDeviceFiles = false;
const bool HasSymbolicLinks = false;
const bool TrialHooksReachTheChild = false;
const bool HasCaseDistinctNames = false;
const bool HasAnyByteNames = false;
const bool WindowsBuild = true;

int ProcessId() {
  return static_cast<int>(::GetCurrentProcessId());
}

unsigned NewFilePermissions() {
  return 0666;
}

unsigned PermissionsOf(const std::string& path) {
  struct _stat64 info {};
  if (::_wstat64(std::filesystem::u8path(path).c_str(), &info) != 0)
    return 0;
  return info.st_mode & 0777;
}

bool MakeNamedPipe(const std::string&) {
  return false;
}

void SetEnvironment(const std::string& name, const char* value) {
  // Both the C library's copy (getenv) and the process's own (GetEnvironmentVariable).
  ::_putenv_s(name.c_str(), value ? value : "");
  ::SetEnvironmentVariableA(name.c_str(), value);
}

// std::system gives the command's exit status itself.
int ExitStatus(int systemResult) {
  return systemResult;
}

bool SetModificationTime(const std::string& path, int64_t nanoseconds) {
  const HANDLE file = ::CreateFileW(std::filesystem::u8path(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  // 100 ns ticks since 1601.
  const uint64_t ticks = static_cast<uint64_t>(nanoseconds / 100) + 116444736000000000ULL;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  const bool done = ::SetFileTime(file, nullptr, nullptr, &time) != 0;
  ::CloseHandle(file);
  return done;
}

namespace {
size_t PageSize() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwPageSize;
}
size_t Readable(size_t size) {
  return (size + PageSize() - 1) / PageSize() * PageSize();
}
} // namespace

uint8_t* AllocateGuarded(size_t size) {
  const size_t readable = Readable(size);
  void* memory =
      ::VirtualAlloc(nullptr, readable + PageSize(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (!memory)
    throw std::runtime_error("VirtualAlloc failed");
  uint8_t* base = static_cast<uint8_t*>(memory);
  DWORD old = 0;
  if (!::VirtualProtect(base + readable, PageSize(), PAGE_NOACCESS, &old))
    throw std::runtime_error("VirtualProtect failed");
  return base + readable - size;
}

void FreeGuarded(uint8_t* bytes, size_t size) {
  ::VirtualFree(bytes + size - Readable(size), 0, MEM_RELEASE);
}

namespace {

std::wstring Wide(const std::string& text) {
  return std::filesystem::u8path(text).wstring();
}

// One argument as the C library's command-line parser reads it back (backslashes count
// only before a quote).
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
    return argument;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

std::wstring NameOf(const std::wstring& entry) {
  std::wstring name = entry.substr(0, entry.find(L'=', 1));
  std::transform(name.begin(), name.end(), name.begin(), ::towupper);
  return name;
}

HANDLE OpenForChild(const std::wstring& path, bool write) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return ::CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string ReadAndRemove(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  in.close();
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  return text.str();
}

std::string WithoutCarriageReturns(std::string text) {
  size_t kept = 0;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
      text[kept++] = text[i];
  text.resize(kept);
  return text;
}

} // namespace

TProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment, const std::string& folder,
                       bool mergeErrors) {
  // Output into files, read once the program has ended: no pipe to keep drained.
  static int counter = 0;
  const std::filesystem::path stem =
      std::filesystem::temp_directory_path() /
      ("quarvel-run-" + std::to_string(ProcessId()) + "-" + std::to_string(++counter));
  const std::filesystem::path outPath = stem.wstring() + L".out",
                              errPath = stem.wstring() + L".err";

  std::wstring line = Quoted(Wide(program));
  for (const std::string& a : arguments)
    line += L" " + Quoted(Wide(a));

  // This process's environment with the assignments over it, sorted as Windows keeps it.
  std::vector<std::wstring> entries;
  std::vector<std::wstring> added;
  for (const std::string& a : environment)
    added.push_back(Wide(a));
  if (wchar_t* block = ::GetEnvironmentStringsW()) {
    for (const wchar_t* e = block; *e; e += wcslen(e) + 1) {
      const std::wstring entry = e;
      bool replaced = false;
      for (const std::wstring& a : added)
        replaced = replaced || NameOf(a) == NameOf(entry);
      if (!replaced)
        entries.push_back(entry);
    }
    ::FreeEnvironmentStringsW(block);
  }
  entries.insert(entries.end(), added.begin(), added.end());
  std::sort(entries.begin(), entries.end(),
            [](const std::wstring& a, const std::wstring& b) { return NameOf(a) < NameOf(b); });
  std::wstring block;
  for (const std::wstring& e : entries)
    block += e + L'\0';
  block += L'\0';

  TProgramRun run;
  const HANDLE input = OpenForChild(L"NUL", false);
  const HANDLE output = OpenForChild(outPath.wstring(), true);
  const HANDLE errors = mergeErrors ? output : OpenForChild(errPath.wstring(), true);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = errors;
  PROCESS_INFORMATION process{};
  const std::wstring from = Wide(folder);
  if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                       block.data(), folder.empty() ? nullptr : from.c_str(), &startup, &process)) {
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (::GetExitCodeProcess(process.hProcess, &code))
      run.Status = static_cast<int>(code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
  for (const HANDLE h : {input, output, mergeErrors ? INVALID_HANDLE_VALUE : errors})
    if (h != INVALID_HANDLE_VALUE)
      ::CloseHandle(h);
  // The program writes its text with Windows' line ends; the tests compare lines.
  run.Out = WithoutCarriageReturns(ReadAndRemove(outPath));
  if (!mergeErrors)
    run.Err = WithoutCarriageReturns(ReadAndRemove(errPath));
  return run;
}

void WaitForever() {
  for (;;)
    ::Sleep(INFINITE);
}

} // namespace quarvel::test

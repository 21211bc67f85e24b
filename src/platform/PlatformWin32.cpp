// The platform contract (platform/Platform.h) on Windows: files, the output writes and
// the lock, the program's path, the machine's key. Names are UTF-8 inside the program
// and UTF-16 at every Win32 call; failures leave an errno value, as on POSIX, so that
// messages read the same on both systems.
#include "platform/Win32Headers.h"

#include <psapi.h>
#include <shellapi.h>

#include "platform/Platform.h"
#include "platform/Win32Internal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

namespace quarvel::platform {

// --- Text and errors ---

std::wstring win32::Widen(const std::string& text) {
  if (text.empty())
    return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(std::max(n, 0)), L'\0');
  if (n > 0)
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string win32::Narrow(const wchar_t* text, size_t size) {
  if (size == 0)
    return {};
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(std::max(n, 0)), '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), narrow.data(), n, nullptr,
                          nullptr);
  return narrow;
}

std::string win32::Narrow(const std::wstring& text) {
  return Narrow(text.data(), text.size());
}

void win32::SetErrnoFrom(unsigned long code) {
  switch (code) {
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
  case ERROR_INVALID_DRIVE:
  case ERROR_BAD_NETPATH:
  case ERROR_BAD_PATHNAME:
    errno = ENOENT;
    break;
  case ERROR_ACCESS_DENIED:
  case ERROR_SHARING_VIOLATION:
  case ERROR_WRITE_PROTECT:
    errno = EACCES;
    break;
  case ERROR_DISK_FULL:
  case ERROR_HANDLE_DISK_FULL:
    errno = ENOSPC;
    break;
  case ERROR_LOCK_VIOLATION:
  case ERROR_IO_PENDING:
    errno = EWOULDBLOCK;
    break;
  case ERROR_FILE_EXISTS:
  case ERROR_ALREADY_EXISTS:
    errno = EEXIST;
    break;
  case ERROR_DIRECTORY:
    errno = ENOTDIR;
    break;
  case ERROR_NOT_SAME_DEVICE:
    errno = EXDEV;
    break;
  case ERROR_BROKEN_PIPE:
  case ERROR_NO_DATA:
    errno = EPIPE;
    break;
  case ERROR_NOT_ENOUGH_MEMORY:
  case ERROR_OUTOFMEMORY:
    errno = ENOMEM;
    break;
  case ERROR_CANT_RESOLVE_FILENAME:
    errno = ELOOP;
    break;
  case ERROR_FILENAME_EXCED_RANGE:
    errno = ENAMETOOLONG;
    break;
  case ERROR_TOO_MANY_OPEN_FILES:
    errno = EMFILE;
    break;
  case ERROR_DIR_NOT_EMPTY:
    errno = ENOTEMPTY;
    break;
  case ERROR_INVALID_PARAMETER:
  case ERROR_INVALID_FUNCTION:
  case ERROR_NOT_SUPPORTED:
  case ERROR_INVALID_NAME:
    errno = EINVAL;
    break;
  default:
    errno = EIO;
    break;
  }
}

void win32::SetErrnoFromLastError() {
  SetErrnoFrom(::GetLastError());
}

// --- Files ---

using win32::Widen;

namespace {

HANDLE Handle(TFileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

TFileHandle FileHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? NoFile : reinterpret_cast<TFileHandle>(handle);
}

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// 100 ns ticks since 1601 -> ns since 1970.
int64_t Nanoseconds(int64_t ticks) {
  constexpr int64_t From1601To1970 = 116444736000000000LL;
  return (ticks - From1601To1970) * 100;
}

int64_t Ticks(const FILETIME& t) {
  return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

// Whether an open handle is a symbolic link or a junction itself (opened with
// FILE_FLAG_OPEN_REPARSE_POINT): other reparse points (deduplicated or cloud files) are
// the files they stand for.
bool IsLinkHandle(HANDLE h, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    return false;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag))
    return false;
  return tag.ReparseTag == IO_REPARSE_TAG_SYMLINK || tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT;
}

std::optional<TFileStatus> StatusOfHandle(HANDLE h) {
  TFileStatus status;
  const DWORD type = ::GetFileType(h);
  if (type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR) {
    status.Kind = type == FILE_TYPE_PIPE ? TFileKind::Pipe : TFileKind::Other;
    return status;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(h, &info)) {
    win32::SetErrnoFromLastError();
    return std::nullopt;
  }
  status.Kind = IsLinkHandle(h, info.dwFileAttributes)                    ? TFileKind::Link
                : (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? TFileKind::Directory
                                                                          : TFileKind::Regular;
  status.Size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  status.MTimeNs = Nanoseconds(Ticks(info.ftLastWriteTime));
  status.CTimeNs = status.MTimeNs;
  FILE_BASIC_INFO basic{};
  if (::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic))
    status.CTimeNs = Nanoseconds(basic.ChangeTime.QuadPart);
  status.Device = info.dwVolumeSerialNumber;
  status.Identity = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return status;
}

// Opens `path` for its attributes only (folders too); links followed unless `name`.
HANDLE OpenForStatus(const std::string& path, bool name) {
  return ::CreateFileW(Widen(path).c_str(), FILE_READ_ATTRIBUTES, ShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | (name ? FILE_FLAG_OPEN_REPARSE_POINT : 0),
                       nullptr);
}

std::optional<TFileStatus> StatusOfPath(const std::string& path, bool name) {
  const HANDLE h = OpenForStatus(path, name);
  if (h == INVALID_HANDLE_VALUE) {
    win32::SetErrnoFromLastError();
    return std::nullopt;
  }
  std::optional<TFileStatus> status = StatusOfHandle(h);
  ::CloseHandle(h);
  return status;
}

// The name `pattern` with its trailing "XXXXXX" replaced by random letters and digits.
void FillPattern(std::string& pattern) {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::atomic<uint64_t> counter{0};
  static const uint64_t seed = std::random_device{}();
  std::mt19937_64 random(seed ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL) ^
                         ::GetCurrentProcessId());
  const size_t at = pattern.size() >= 6 ? pattern.size() - 6 : 0;
  for (size_t i = at; i < pattern.size(); ++i)
    pattern[i] = letters[random() % (sizeof letters - 1)];
}

bool EndsWithPattern(const std::string& pattern) {
  return pattern.size() >= 6 && pattern.compare(pattern.size() - 6, 6, "XXXXXX") == 0;
}

} // namespace

std::optional<TFileStatus> StatusOf(const std::string& path) {
  return StatusOfPath(path, false);
}

std::optional<TFileStatus> StatusOfName(const std::string& path) {
  return StatusOfPath(path, true);
}

std::optional<TFileStatus> StatusOf(TFileHandle file) {
  return StatusOfHandle(Handle(file));
}

bool CanRead(const std::string& path) {
  const HANDLE h = ::CreateFileW(Widen(path).c_str(), GENERIC_READ, ShareAll, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    win32::SetErrnoFromLastError();
    return false;
  }
  ::CloseHandle(h);
  return true;
}

TFileHandle OpenForReading(const std::string& path, bool /*wait*/, bool followLinks) {
  // Folders open too (as open() opens them on POSIX): the caller looks at what it opened
  // and says that a folder is not a file.
  const HANDLE h = ::CreateFileW(
      Widen(path).c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    win32::SetErrnoFromLastError();
    return NoFile;
  }
  if (!followLinks) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(h, &info) && IsLinkHandle(h, info.dwFileAttributes)) {
      ::CloseHandle(h);
      errno = ELOOP;
      return NoFile;
    }
  }
  return FileHandle(h);
}

int64_t Read(TFileHandle file, void* data, size_t size) {
  DWORD got = 0;
  const DWORD want = static_cast<DWORD>(std::min<size_t>(size, 1U << 30));
  if (::ReadFile(Handle(file), data, want, &got, nullptr))
    return got;
  const DWORD code = ::GetLastError();
  if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF)
    return 0; // a pipe's writer has gone: its end
  win32::SetErrnoFrom(code);
  return -1;
}

int64_t Write(TFileHandle file, const void* data, size_t size) {
  DWORD put = 0;
  const DWORD want = static_cast<DWORD>(std::min<size_t>(size, 1U << 30));
  if (::WriteFile(Handle(file), data, want, &put, nullptr))
    return put;
  win32::SetErrnoFromLastError();
  return -1;
}

int Sync(TFileHandle file) {
  if (::FlushFileBuffers(Handle(file)))
    return 0;
  win32::SetErrnoFromLastError();
  return -1;
}

int Close(TFileHandle file) {
  if (::CloseHandle(Handle(file)))
    return 0;
  win32::SetErrnoFromLastError();
  return -1;
}

TFileHandle MakeTemporary(std::string& pattern) {
  if (!EndsWithPattern(pattern)) {
    errno = EINVAL;
    return NoFile;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    FillPattern(pattern);
    // FILE_SHARE_DELETE: the set's files are renamed into place while still open.
    const HANDLE h = ::CreateFileW(Widen(pattern).c_str(), GENERIC_READ | GENERIC_WRITE, ShareAll,
                                   nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE)
      return FileHandle(h);
    const DWORD code = ::GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
      win32::SetErrnoFrom(code);
      return NoFile;
    }
  }
  errno = EEXIST;
  return NoFile;
}

std::string TemporaryFolder() {
  wchar_t buffer[MAX_PATH + 2];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH + 1)
    return ".";
  std::string folder = win32::Narrow(buffer, n);
  while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/') &&
         folder[folder.size() - 2] != ':')
    folder.pop_back();
  return folder;
}

bool MakeTemporaryFolder(std::string& pattern) {
  if (!EndsWithPattern(pattern)) {
    errno = EINVAL;
    return false;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    FillPattern(pattern);
    if (::CreateDirectoryW(Widen(pattern).c_str(), nullptr))
      return true;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) {
      win32::SetErrnoFromLastError();
      return false;
    }
  }
  errno = EEXIST;
  return false;
}

int Link(const std::string& existing, const std::string& newName) {
  if (::CreateHardLinkW(Widen(newName).c_str(), Widen(existing).c_str(), nullptr))
    return 0;
  win32::SetErrnoFromLastError();
  return -1;
}

int Replace(const std::string& from, const std::string& to) {
  if (::MoveFileExW(Widen(from).c_str(), Widen(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return 0;
  win32::SetErrnoFromLastError();
  return -1;
}

int Remove(const std::string& name) {
  if (::DeleteFileW(Widen(name).c_str()))
    return 0;
  win32::SetErrnoFromLastError();
  return -1;
}

TFileHandle OpenLockFile(const std::string& path) {
  // FILE_FLAG_OPEN_REPARSE_POINT: a link planted under the lock file's name is opened as
  // the link (which the caller refuses), never followed to a file somewhere else.
  const HANDLE h = ::CreateFileW(Widen(path).c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    win32::SetErrnoFromLastError();
    return NoFile;
  }
  return FileHandle(h);
}

int TryLock(TFileHandle file, bool shared) {
  OVERLAPPED at{};
  const DWORD flags = (shared ? 0 : LOCKFILE_EXCLUSIVE_LOCK) | LOCKFILE_FAIL_IMMEDIATELY;
  if (::LockFileEx(Handle(file), flags, 0, MAXDWORD, MAXDWORD, &at))
    return 0;
  const DWORD code = ::GetLastError();
  if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING)
    errno = EWOULDBLOCK;
  else
    win32::SetErrnoFrom(code);
  return -1;
}

bool WindowsFileNames() {
  return true; // "C:", "nul.txt" and "a:b" read from elsewhere than the name says
}

std::string ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0)
      return {};
    if (n < path.size()) {
      path.resize(n);
      return win32::Narrow(path);
    }
    path.resize(path.size() * 2);
  }
}

bool win32::StartProcess(const std::wstring& program, std::wstring& commandLine,
                         const std::vector<void*>& inherited, void* input, void* output,
                         void* error, unsigned long flags, TStarted& started) {
  SIZE_T listSize = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
  std::vector<char> listBytes(listSize);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBytes.data());
  std::vector<HANDLE> handles(inherited.begin(), inherited.end());
  if (!::InitializeProcThreadAttributeList(list, 1, 0, &listSize))
    return false;
  STARTUPINFOEXW start{};
  start.StartupInfo.cb = sizeof start;
  start.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  start.StartupInfo.hStdInput = input;
  start.StartupInfo.hStdOutput = output;
  start.StartupInfo.hStdError = error;
  start.lpAttributeList = list;
  PROCESS_INFORMATION made{};
  const bool ok =
      ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                  handles.size() * sizeof(HANDLE), nullptr, nullptr) &&
      ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                       flags | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &start.StartupInfo,
                       &made);
  const DWORD code = ::GetLastError();
  ::DeleteProcThreadAttributeList(list);
  ::SetLastError(code);
  started = {made.hProcess, made.hThread};
  return ok;
}

std::string UserCacheFolder() {
  // %LOCALAPPDATA%, not the roaming profile: the cache is of this machine's renderer.
  const DWORD size = ::GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
  if (size == 0)
    return std::string();
  std::wstring folder(size, L'\0');
  const DWORD n = ::GetEnvironmentVariableW(L"LOCALAPPDATA", folder.data(), size);
  if (n == 0 || n >= size)
    return std::string();
  folder.resize(n);
  const std::string utf8 = win32::Narrow(folder);
  // Only a full path ("C:\..." or "\\server\..."): a relative one would move with the
  // working folder.
  const bool full = (utf8.size() > 2 && utf8[1] == ':' && (utf8[2] == '\\' || utf8[2] == '/')) ||
                    utf8.rfind("\\\\", 0) == 0;
  return full ? utf8 : std::string();
}

std::string MachineKey() {
  wchar_t guid[128] = {};
  DWORD size = sizeof guid;
  std::string id;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid",
                     RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, guid, &size) == ERROR_SUCCESS)
    id = win32::Narrow(guid, std::wcslen(guid));
  wchar_t host[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD hostSize = MAX_COMPUTERNAME_LENGTH + 1;
  std::string name;
  if (::GetComputerNameW(host, &hostSize))
    name = win32::Narrow(host, hostSize);
  return id + " " + name;
}

std::vector<std::string> GraphicsDevices() {
  // The display adapters: Windows has no device nodes, but the adapters are what a
  // cache of the renderer's output must tell apart.
  std::vector<std::string> adapters;
  DISPLAY_DEVICEW device{};
  device.cb = sizeof device;
  for (DWORD i = 0; ::EnumDisplayDevicesW(nullptr, i, &device, 0); ++i) {
    const std::string name = win32::Narrow(device.DeviceString, std::wcslen(device.DeviceString));
    if (!name.empty() && std::find(adapters.begin(), adapters.end(), name) == adapters.end())
      adapters.push_back(name);
    device.cb = sizeof device;
  }
  std::sort(adapters.begin(), adapters.end());
  return adapters;
}

std::vector<std::string> LoadedLibraries() {
  std::vector<HMODULE> modules(256);
  DWORD needed = 0;
  const HANDLE self = ::GetCurrentProcess();
  for (;;) {
    const DWORD bytes = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
    if (!::K32EnumProcessModules(self, modules.data(), bytes, &needed))
      return {};
    if (needed <= bytes)
      break;
    modules.resize(needed / sizeof(HMODULE));
  }
  modules.resize(needed / sizeof(HMODULE));
  const HMODULE program = ::GetModuleHandleW(nullptr);
  std::vector<std::string> libraries;
  for (const HMODULE module : modules) {
    if (module == program)
      continue;
    wchar_t path[MAX_PATH * 2];
    const DWORD n = ::GetModuleFileNameW(module, path, MAX_PATH * 2);
    if (n == 0)
      continue;
    std::string name = win32::Narrow(path, n);
    if (std::find(libraries.begin(), libraries.end(), name) == libraries.end())
      libraries.push_back(std::move(name));
  }
  return libraries;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide)
    return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i)
    arguments.push_back(win32::Narrow(wide[i], std::wcslen(wide[i])));
  ::LocalFree(wide);
  ::SetConsoleOutputCP(CP_UTF8);
  return arguments;
}

std::vector<std::string> Environment() {
  std::vector<std::string> entries;
  wchar_t* block = ::GetEnvironmentStringsW();
  if (!block)
    return entries;
  for (const wchar_t* e = block; *e; e += std::wcslen(e) + 1) {
    // "=C:=C:\..." entries are the shell's current folder of each drive, not variables.
    if (*e != L'=')
      entries.push_back(win32::Narrow(e, std::wcslen(e)));
  }
  ::FreeEnvironmentStringsW(block);
  return entries;
}

void SleepMs(int milliseconds) {
  ::Sleep(static_cast<DWORD>(std::max(milliseconds, 0)));
}

} // namespace quarvel::platform

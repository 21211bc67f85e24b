// What the Windows implementation files of the platform contract share among themselves.
// Paths are UTF-8 everywhere else in the program; they become UTF-16 here, at the
// boundary of the Win32 calls.
#pragma once

#include <string>
#include <vector>

namespace quarvel::platform::win32 {

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);
std::string Narrow(const wchar_t* text, size_t size);

// Sets errno from a Win32 error code (GetLastError()), so that LastError() and ErrorText()
// say what the POSIX build says for the same failure.
void SetErrnoFrom(unsigned long win32Error);
// The same for the calling thread's last Win32 error.
void SetErrnoFromLastError();

// The fault that ended a process with exit status `status` (an exception's code), as
// POSIX would say it: the signal the same fault raises there, and that signal's name as
// strsignal gives it ("Segmentation fault"). Signal 0 and no name for a status that is
// no fault's.
struct TFault {
  int Signal = 0;
  const char* Name = nullptr;
};
TFault FaultOf(unsigned long status);

// Starts `program` with `commandLine` (CreateProcessW, which may write into it) and the
// standard handles given, inheriting the handles in `inherited` (those three among them)
// and no other: an output lock or another worker's pipe held by the child would outlive
// its closing here. `flags` are CreateProcessW's; EXTENDED_STARTUPINFO_PRESENT is added.
// Handles are HANDLEs, as void* so that this header needs no <windows.h>. False with the
// thread's last error set when the child was not started.
struct TStarted {
  void* Process = nullptr;
  void* Thread = nullptr;
};
bool StartProcess(const std::wstring& program, std::wstring& commandLine,
                  const std::vector<void*>& inherited, void* input, void* output, void* error,
                  unsigned long flags, TStarted& started);

// Whether a stop request has been recorded (InstallStopHandlers); false before the
// handlers are installed.
bool StopRequested() noexcept;

} // namespace quarvel::platform::win32

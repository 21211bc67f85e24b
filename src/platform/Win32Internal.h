// What the Windows implementation files of the platform contract share among themselves.
// Paths are UTF-8 everywhere else in the program; they become UTF-16 here, at the
// boundary of the Win32 calls.
#pragma once

#include <string>

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

// Whether a stop request has been recorded (InstallStopHandlers); false before the
// handlers are installed.
bool StopRequested() noexcept;

} // namespace quarvel::platform::win32

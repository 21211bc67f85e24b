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

// Whether a stop request has been recorded (InstallStopHandlers); false before the
// handlers are installed.
bool StopRequested() noexcept;

} // namespace quarvel::platform::win32

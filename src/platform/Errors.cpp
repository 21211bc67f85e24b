// Errors as the platform contract gives them, the same on every system: errno values
// (PlatformWin32.cpp maps each Win32 failure to one), so that callers test one set.
#include "platform/Platform.h"

#include <cerrno>
#include <cstring>

namespace quarvel::platform {

int LastError() {
  return errno;
}
void SetLastError(int code) {
  errno = code;
}
std::string ErrorText(int code) {
  return std::strerror(code);
}
const int ErrorNoSpace = ENOSPC;
const int ErrorNotFound = ENOENT;
const int ErrorWouldBlock = EWOULDBLOCK;
const int ErrorIsFolder = EISDIR;
const int ErrorNotFolder = ENOTDIR;
const int ErrorInvalid = EINVAL;
const int ErrorInterrupted = EINTR;
const int ErrorIsLink = ELOOP;

} // namespace quarvel::platform

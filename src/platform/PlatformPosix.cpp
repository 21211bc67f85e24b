// The platform contract (platform/Platform.h) on POSIX systems (Linux).
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

} // namespace quarvel::platform

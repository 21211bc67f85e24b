// What the POSIX implementation files of the platform contract share among themselves.
#pragma once

namespace quarvel::platform::posix {

// Whether a stop request has been recorded (InstallStopHandlers); false before the
// handlers are installed. Safe in a signal handler.
bool StopRequested() noexcept;

// Waits until `fd` (a pipe) has something to read or its writer has gone, asking about a
// stop request ten times a second: false, with errno EINTR, when one ends the wait.
bool WaitForInput(int fd);

} // namespace quarvel::platform::posix

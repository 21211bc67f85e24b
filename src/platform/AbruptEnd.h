// The files to remove on an abrupt end (RemoveOnAbruptEnd, KeepOnAbruptEnd), which every
// system's stop handler removes on a second request. Nothing here calls the system: each
// system's file passes its own removal in.
#pragma once

namespace quarvel::platform::abrupt_end {

// Calls remove(name) for every file registered now. Safe in a signal handler (and in a
// console handler's thread): it reads only slots whose names are complete.
void RemoveRegistered(void (*remove)(const char* name)) noexcept;

} // namespace quarvel::platform::abrupt_end

// What a test puts before a command line that runs `quarvel-cli gl-info`.
#pragma once

namespace quarvel::test {

// gl-info makes a context on every candidate device and leaves Mesa's rasteriser threads
// of the one it chose running until the process ends. In a sanitizer build,
// LeakSanitizer's scan at the end of such a process has crashed now and then on a busy
// machine ("Tracer caught signal 11"), failing a run that did everything right. The leak
// check is left out for these runs only; the code they run is leak-checked by the
// in-process GL tests and by every render the other tests start.
constexpr const char* GLInfoEnvironment = "ASAN_OPTIONS=detect_leaks=0:abort_on_error=0";

} // namespace quarvel::test

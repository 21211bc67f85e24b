// Child processes, stop requests and the terminal (platform/Platform.h) on Windows.
//
// Ctrl-C and Ctrl-Break come to a console handler (on a thread of its own, not in a
// signal handler), as SignalInterrupt and SignalTerminate; closing the console or ending
// the session counts as SignalTerminate too. Anonymous pipes cannot be waited on
// together with an event, so WaitForOutput looks at the children's pipes a few times a
// second and otherwise waits on the event a stop request sets.
#include "platform/Win32Headers.h"

#include "platform/AbruptEnd.h"
#include "platform/Platform.h"
#include "platform/Win32Internal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace quarvel::platform {

namespace {

TStopCallbacks stopCallbacks;
std::atomic<bool> secondEndsAtOnce{false};
// Set by a stop request while WakeOnStopRequests holds; WaitForOutput waits on it.
HANDLE wakeEvent = nullptr;
std::atomic<bool> waking{false};

void RemoveRegisteredFiles() {
  abrupt_end::RemoveRegistered([](const char* name) { ::DeleteFileW(win32::Widen(name).c_str()); });
}

int SignalOf(DWORD event) {
  return event == CTRL_C_EVENT ? SIGINT : SIGTERM;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  const int signal = SignalOf(event);
  if (stopCallbacks.Pending() != 0) {
    if (secondEndsAtOnce.load()) {
      RemoveRegisteredFiles();
      // What the default handler does: the process ends, with the status a shell gives
      // a program ended by the signal.
      ::ExitProcess(128 + static_cast<UINT>(signal));
    }
  } else {
    stopCallbacks.Record(signal);
  }
  if (waking.load() && wakeEvent)
    ::SetEvent(wakeEvent);
  // The console's close and the session's end take the process anyway once this returns;
  // the program has until then to finish the files it is writing.
  return TRUE;
}

// A command line argument quoted as the C runtime's parser reads it back.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
    return argument;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"')
      out.append(backslashes * 2 + 1, L'\\');
    else
      out.append(backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  out += L'"';
  return out;
}

HANDLE InheritableCopy(DWORD which) {
  const HANDLE h = ::GetStdHandle(which);
  if (h == nullptr || h == INVALID_HANDLE_VALUE)
    return nullptr;
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
    return nullptr;
  return copy;
}

HANDLE ProcessHandle(const TChild& child) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(child.Process));
}

} // namespace

win32::TFault win32::FaultOf(unsigned long status) {
  // An exception that nothing caught ends a process with its code: the signal the same
  // fault raises on POSIX (numbers as Linux has them where the C runtime here has none).
  static const struct {
    unsigned long Status;
    TFault Fault;
  } faults[] = {
      {0xC0000005, {SIGSEGV, "Segmentation fault"}},      // access violation
      {0xC00000FD, {SIGSEGV, "Segmentation fault"}},      // stack overflow
      {0xC0000006, {7, "Bus error"}},                     // a mapped file's page unreadable
      {0x80000002, {7, "Bus error"}},                     // misaligned data
      {0xC000001D, {SIGILL, "Illegal instruction"}},      // illegal instruction
      {0xC0000096, {SIGILL, "Illegal instruction"}},      // privileged instruction
      {0xC0000094, {SIGFPE, "Floating point exception"}}, // integer division by zero
      {0xC0000095, {SIGFPE, "Floating point exception"}}, // integer overflow
      {0xC000008E, {SIGFPE, "Floating point exception"}}, // floating-point division by zero
      {0xC0000090, {SIGFPE, "Floating point exception"}}, // invalid floating-point operation
      {0xC0000409, {SIGABRT, "Aborted"}},                 // abort() and a failed stack check
      {0xC0000374, {SIGABRT, "Aborted"}},                 // a corrupted heap
      {0x80000003, {5, "Trace/breakpoint trap"}},         // a breakpoint
  };
  for (const auto& f : faults)
    if (f.Status == status)
      return f.Fault;
  return {};
}

bool win32::StopRequested() noexcept {
  return stopCallbacks.Pending && stopCallbacks.Pending() != 0;
}

std::optional<TChild> SpawnSelf(const std::vector<std::string>& arguments) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 1 << 16)) {
    win32::SetErrnoFromLastError();
    return std::nullopt;
  }
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  // Only the three standard handles go to the child: an output lock or another
  // worker's pipe held there would outlive their closing here.
  HANDLE input = InheritableCopy(STD_INPUT_HANDLE);
  HANDLE error = InheritableCopy(STD_ERROR_HANDLE);
  std::vector<void*> inherited{writeEnd};
  for (const HANDLE h : {input, error})
    if (h)
      inherited.push_back(h);
  std::wstring commandLine;
  for (const std::string& a : arguments) {
    if (!commandLine.empty())
      commandLine += L' ';
    commandLine += Quoted(win32::Widen(a));
  }
  const std::wstring program = win32::Widen(ProgramPath());
  win32::TStarted made;
  const bool ok =
      win32::StartProcess(program, commandLine, inherited, input, writeEnd, error, 0, made);
  const DWORD code = ::GetLastError();
  ::CloseHandle(writeEnd);
  for (const HANDLE h : {input, error})
    if (h)
      ::CloseHandle(h);
  if (!ok) {
    ::CloseHandle(readEnd);
    win32::SetErrnoFrom(code);
    return std::nullopt;
  }
  ::CloseHandle(made.Thread);
  TChild child;
  child.Process = reinterpret_cast<intptr_t>(made.Process);
  child.Output = reinterpret_cast<TFileHandle>(readEnd);
  return child;
}

int WaitForOutput(const std::vector<TChild>& children, std::vector<bool>& ready) {
  ready.assign(children.size(), false);
  for (;;) {
    bool any = false;
    for (size_t i = 0; i < children.size(); ++i) {
      DWORD available = 0;
      const HANDLE pipe = reinterpret_cast<HANDLE>(children[i].Output);
      if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available > 0) {
        ready[i] = true; // data, or the end (the read that follows tells which)
        any = true;
      }
    }
    if (any)
      return 0;
    if (wakeEvent && waking.load() && ::WaitForSingleObject(wakeEvent, 20) == WAIT_OBJECT_0) {
      ::ResetEvent(wakeEvent);
      return 0;
    }
    if (!wakeEvent || !waking.load())
      ::Sleep(20);
  }
}

int64_t ReadOutput(const TChild& child, void* data, size_t size) {
  return Read(child.Output, data, size);
}

int Kill(const TChild& child, int signal) {
  // A worker shares this console, so a Ctrl-C typed there has reached it already; what
  // remains is to end it, with the status a shell reports for the signal.
  if (::TerminateProcess(ProcessHandle(child), 128 + static_cast<UINT>(signal)))
    return 0;
  win32::SetErrnoFromLastError();
  return -1;
}

TChildEnd WaitForEnd(TChild& child) {
  ::CloseHandle(reinterpret_cast<HANDLE>(child.Output));
  child.Output = NoFile;
  const HANDLE process = ProcessHandle(child);
  ::WaitForSingleObject(process, INFINITE);
  DWORD status = 0;
  ::GetExitCodeProcess(process, &status);
  ::CloseHandle(process);
  child.Process = -1;
  TChildEnd end;
  if (const win32::TFault fault = win32::FaultOf(status); fault.Signal != 0) {
    end.Signalled = true;
    end.Code = fault.Signal;
  } else if (status == 128 + SIGINT || status == 128 + SIGTERM) {
    // Ended by Kill, or by a second stop request: the status a shell gives a program the
    // signal ended, which is how this system says it.
    end.Signalled = true;
    end.Code = static_cast<int>(status) - 128;
  } else {
    end.Code = static_cast<int>(status);
  }
  return end;
}

const int SignalInterrupt = SIGINT;
const int SignalTerminate = SIGTERM;

void InstallStopHandlers(bool endsAtOnce, TStopCallbacks callbacks) {
  stopCallbacks = callbacks;
  secondEndsAtOnce.store(endsAtOnce);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int WakeOnStopRequests() {
  // The event stays until the program ends: the console handler may be about to set it.
  if (!wakeEvent)
    wakeEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!wakeEvent) {
    win32::SetErrnoFromLastError();
    return -1;
  }
  waking.store(true);
  return 0;
}

void StopWakingOnStopRequests() {
  waking.store(false);
}

void IgnoreBrokenPipes() {
  // Windows has no signal for a write to a pipe without a reader: the write fails.
}

bool OutputIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

int TerminalWidth() {
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(out, &info))
    return 0;
  // The progress bar redraws itself with escape sequences: the console reads them once
  // virtual-terminal processing is on.
  DWORD mode = 0;
  if (::GetConsoleMode(out, &mode))
    ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  return info.srWindow.Right - info.srWindow.Left + 1;
}

} // namespace quarvel::platform

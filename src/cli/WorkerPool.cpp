#include "cli/WorkerPool.h"

#include "cli/Batch.h"
#include "cli/Command.h"
#include "cli/ProgressDisplay.h"
#include "common/Error.h"
#include "common/Interrupt.h"
#include "platform/Platform.h"

#include <iostream>

namespace quarvel::cli {

namespace {

// A running worker, as the parent follows it.
struct TWorker {
  std::string Name;
  platform::TChild Child;
  size_t Index = 0;         // in the list of jobs
  std::string Pending;      // a line not yet complete
  bool Failed = false;      // an "error" line came
  bool Interrupted = false; // an "interrupted" line came
  bool Signalled = false;   // the interrupt was passed on to it
};

} // namespace

void TWorkerPool::Report(const TMessage& message) {
  std::cout << message.Encode() << "\n" << std::flush;
}

std::vector<TOutcome> TWorkerPool::Run(const std::vector<std::string>& names,
                                       TProgressDisplay& display, TBatchRun& batch) {
  using TKind = TMessage::TKind;
  std::vector<TOutcome> outcomes(names.size(), TOutcome::NotStarted);
  std::vector<TWorker> running;
  size_t next = 0;
  bool announced = false;
  // Set when the workers can no longer be watched: the running jobs are stopped and count
  // as failed, no other starts.
  bool abandoned = false;
  bool noted = false; // every worker notes the renderer; the user is told once

  if (platform::WakeOnStopRequests() != 0)
    throw Error("cannot wait for workers: " + platform::ErrorText(platform::LastError()));

  auto handleLine = [&](TWorker& w, const std::string& line) {
    const std::optional<TMessage> message = TMessage::Parse(line);
    if (!message)
      return;
    const std::string& text = message->Text;
    switch (message->Kind) {
    case TKind::Progress:
      batch.Progress(w.Name, text);
      display.Progress(w.Name, message->Percent, text);
      break;
    case TKind::Note:
      if (!std::exchange(noted, true))
        display.Line(text);
      break;
    case TKind::Warning:
      batch.Warning(w.Name, text);
      display.Warning(w.Name, text);
      break;
    case TKind::Wrote:
      display.Line("wrote " + text);
      break;
    case TKind::Error:
      w.Failed = true;
      batch.Failure(w.Name, text);
      display.Error(w.Name + ": " + text);
      break;
    case TKind::Interrupted:
      w.Interrupted = true;
      display.Error(w.Name + (abandoned ? ": stopped" : ": interrupted"));
      break;
    }
  };

  // Reads what a worker has to say; false once it has closed its end.
  auto readSome = [&](TWorker& w) {
    char buffer[4096];
    const int64_t n = platform::ReadOutput(w.Child, buffer, sizeof buffer);
    if (n <= 0)
      return false;
    w.Pending.append(buffer, static_cast<size_t>(n));
    size_t end;
    while ((end = w.Pending.find('\n')) != std::string::npos) {
      // On Windows a worker's standard output is in text mode: its lines end with "\r\n",
      // and the CR would reach the user's terminal twice over.
      const size_t length = end > 0 && w.Pending[end - 1] == '\r' ? end - 1 : end;
      handleLine(w, w.Pending.substr(0, length));
      w.Pending.erase(0, end + 1);
    }
    return true;
  };

  // A worker whose output has ended: waits for it and records its outcome.
  auto reap = [&](TWorker& w) {
    const platform::TChildEnd end = platform::WaitForEnd(w.Child);
    // A worker that was killed, or ended without saying why, says nothing of the job's
    // input: another try may pass. So may a job the worker could not be watched through.
    TOutcome outcome = TOutcome::FailedTransient;
    if (abandoned)
      outcome = TOutcome::FailedTransient;
    else if (w.Failed)
      outcome = !end.Signalled && end.Code == ExitTransient ? TOutcome::FailedTransient
                                                            : TOutcome::Failed;
    else if (w.Interrupted)
      outcome = TOutcome::Interrupted;
    else if (!end.Signalled && end.Code == 0)
      outcome = TOutcome::Rendered;
    else if (end.Signalled && InterruptSignal() != 0 &&
             (end.Code == platform::SignalInterrupt || end.Code == platform::SignalTerminate)) {
      // Stopped (from a terminal, or by us) before it had its own handler.
      outcome = TOutcome::Interrupted;
      display.Error(w.Name + ": interrupted");
    } else if (end.Signalled) {
      display.Error(w.Name + ": the worker ended by signal " + std::to_string(end.Code));
    } else {
      display.Error(w.Name + ": the worker failed with status " + std::to_string(end.Code));
    }
    outcomes[w.Index] = outcome;
  };

  while (next < names.size() || !running.empty()) {
    if (const int signal = InterruptSignal()) {
      // No new job starts; every running one is asked to stop, once each.
      next = names.size();
      for (TWorker& w : running)
        if (!w.Signalled) {
          platform::Kill(w.Child, signal);
          w.Signalled = true;
        }
      if (!announced) {
        announced = true;
        display.Error(running.empty() ? "interrupted: starting no other job"
                                      : "interrupted: stopping the running jobs, starting no "
                                        "other (a second interrupt ends at once)");
      }
    }
    while (next < names.size() && static_cast<int>(running.size()) < Size_) {
      TWorker w;
      w.Index = next;
      w.Name = names[next++];
      std::vector<std::string> argv = Arguments_;
      if (!batch.Fingerprint().empty()) {
        argv.push_back("--fingerprint-value");
        argv.push_back(batch.Fingerprint());
      }
      argv.push_back("--");
      argv.push_back(w.Name);
      if (const std::optional<platform::TChild> child = platform::SpawnSelf(argv)) {
        w.Child = *child;
        running.push_back(std::move(w));
      } else {
        display.Error(w.Name +
                      ": cannot start a worker: " + platform::ErrorText(platform::LastError()));
        outcomes[w.Index] = TOutcome::FailedTransient;
        display.JobDone(w.Name, OutcomeWord(outcomes[w.Index]));
      }
    }
    if (running.empty())
      continue;

    std::vector<platform::TChild> children;
    for (const TWorker& w : running)
      children.push_back(w.Child);
    std::vector<bool> ready;
    if (platform::WaitForOutput(children, ready) != 0) {
      // Without the wait the workers cannot be followed. They are not left running on their
      // own: each is asked to stop (it writes nothing then), read to its end and waited
      // for, and only then is the failure reported in the summary.
      const int err = platform::LastError();
      abandoned = true;
      display.Error("cannot wait for the workers: " + platform::ErrorText(err) +
                    "; stopping the running jobs, starting no other");
      for (TWorker& w : running)
        platform::Kill(w.Child, platform::SignalTerminate);
      for (TWorker& w : running) {
        while (readSome(w)) {
        }
        reap(w);
        display.JobDone(w.Name, OutcomeWord(outcomes[w.Index]));
      }
      running.clear();
      break;
    }

    for (size_t i = 0, k = 0; i < running.size(); ++k) {
      TWorker& w = running[i];
      if (!ready[k] || readSome(w)) {
        ++i;
        continue;
      }
      display.EndJob(w.Name);
      reap(w);
      display.JobDone(w.Name, OutcomeWord(outcomes[w.Index]));
      batch.Ended(w.Name);
      running.erase(running.begin() + static_cast<ptrdiff_t>(i));
    }
  }
  platform::StopWakingOnStopRequests();
  return outcomes;
}

} // namespace quarvel::cli

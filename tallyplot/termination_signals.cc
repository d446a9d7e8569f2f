#include "termination_signals.h"

#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "resultset.h"

namespace {

const int kTerminationSignals[] = {SIGHUP, SIGINT, SIGTERM};

// How long a cancelled statement may take to end before the run dies
// anyway: enough for the server to act on KILL QUERY, short enough for
// someone pressing Ctrl-C.
constexpr std::chrono::milliseconds kCancelWait{2000};

// Held by TerminationSignalsHeld; the signal thread takes it before acting.
std::recursive_mutex& heldBack() {
  static std::recursive_mutex mutex;
  return mutex;
}

// The temporary file to remove on a signal, guarded by heldBack().
std::string& temporaryPath() {
  static std::string path;
  return path;
}

// Everything a signal must stop, then the signal's own default action, so
// the exit status still says which signal ended the run.
[[noreturn]] void stopRun(int sig, sigset_t watched) {
  std::lock_guard<std::recursive_mutex> held(heldBack());
  if (!temporaryPath().empty()) unlink(temporaryPath().c_str());
  // The signals keep their default action throughout, only held back: let
  // them through here, so a second one ends the run at once, there being
  // nothing left to tidy but the server's statement.
  pthread_sigmask(SIG_UNBLOCK, &watched, nullptr);
  ResultSet::cancelStatementInFlight(kCancelWait);
  raise(sig);
  _exit(128 + sig);  // not reached: the default action ends the process
}

}  // namespace

void watchTerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  bool any = false;
  for (int sig : kTerminationSignals) {
    struct sigaction previous;
    if (sigaction(sig, nullptr, &previous) == 0 &&
        previous.sa_handler != SIG_IGN) {
      sigaddset(&set, sig);
      any = true;
    }
  }
  if (!any) return;
  // Blocked here, before the thread exists, so every thread inherits the
  // block and only the waiting thread ever sees these signals.
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    int sig = 0;
    while (sigwait(&set, &sig) != 0) {
    }
    stopRun(sig, set);
  }).detach();
}

TerminationSignalsHeld::TerminationSignalsHeld() : lock_(heldBack()) {}

TerminationSignalsHeld::~TerminationSignalsHeld() {}

TemporaryFileGuard::~TemporaryFileGuard() { forget(); }

bool TemporaryFileGuard::record(const std::string& path) {
  if (path.size() >= PATH_MAX) return false;
  std::lock_guard<std::recursive_mutex> held(heldBack());
  temporaryPath() = path;
  return true;
}

void TemporaryFileGuard::forget() {
  std::lock_guard<std::recursive_mutex> held(heldBack());
  temporaryPath().clear();
}

#include "termination_signals.h"

#include <unistd.h>

#include <climits>
#include <cstring>

namespace {

const int kTerminationSignals[] = {SIGHUP, SIGINT, SIGPIPE, SIGTERM};
const int kTerminationSignalCount =
    sizeof kTerminationSignals / sizeof kTerminationSignals[0];

sigset_t terminationSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kTerminationSignals) sigaddset(&set, sig);
  return set;
}

// The temporary file a termination signal must remove, shared with the
// signal handler: written only while the signals are held back.
char gTemporaryPath[PATH_MAX];
volatile sig_atomic_t gTemporaryRecorded = 0;
// What each termination signal did before the handler was installed, and
// whether the handler is installed for it (an ignored signal stays ignored).
struct sigaction gPreviousActions[kTerminationSignalCount];
bool gHandled[kTerminationSignalCount];

// Removes the recorded temporary file, then lets the signal do what it did
// before, which ends the process unless the program chose otherwise; the
// exit status then still says which signal ended it. Only async-signal-safe
// calls.
extern "C" void removeTemporaryAndResignal(int sig) {
  if (gTemporaryRecorded) unlink(gTemporaryPath);
  gTemporaryRecorded = 0;
  for (int i = 0; i < kTerminationSignalCount; ++i) {
    if (kTerminationSignals[i] == sig) {
      sigaction(sig, &gPreviousActions[i], nullptr);
    }
  }
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
}

bool installHandler(int index) {
  int sig = kTerminationSignals[index];
  if (sigaction(sig, nullptr, &gPreviousActions[index]) != 0 ||
      gPreviousActions[index].sa_handler == SIG_IGN) {
    return false;
  }
  struct sigaction action = {};
  action.sa_handler = removeTemporaryAndResignal;
  action.sa_mask = terminationSignalSet();
  action.sa_flags = SA_RESTART;
  return sigaction(sig, &action, nullptr) == 0;
}

}  // namespace

TerminationSignalsHeld::TerminationSignalsHeld() {
  sigset_t set = terminationSignalSet();
  sigprocmask(SIG_BLOCK, &set, &previous_);
}

TerminationSignalsHeld::~TerminationSignalsHeld() {
  sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

TemporaryFileGuard::TemporaryFileGuard() {
  for (int i = 0; i < kTerminationSignalCount; ++i) {
    gHandled[i] = installHandler(i);
  }
}

TemporaryFileGuard::~TemporaryFileGuard() {
  TerminationSignalsHeld held;
  gTemporaryRecorded = 0;
  for (int i = 0; i < kTerminationSignalCount; ++i) {
    if (gHandled[i]) {
      sigaction(kTerminationSignals[i], &gPreviousActions[i], nullptr);
    }
  }
}

bool TemporaryFileGuard::record(const std::string& path) {
  if (path.size() >= sizeof gTemporaryPath) return false;
  std::memcpy(gTemporaryPath, path.c_str(), path.size() + 1);
  gTemporaryRecorded = 1;
  return true;
}

void TemporaryFileGuard::forget() { gTemporaryRecorded = 0; }

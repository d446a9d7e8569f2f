// Keeping the signals that users and schedulers send to stop a run
// (SIGHUP, SIGINT, SIGPIPE, SIGTERM) from leaving a temporary file or a
// half-written document behind.
#ifndef TALLYPLOT_TERMINATION_SIGNALS_H_
#define TALLYPLOT_TERMINATION_SIGNALS_H_

#include <signal.h>

#include <string>

// Holds back the termination signals for its lifetime: what it guards
// either happens whole or, when a signal arrives meanwhile, is complete
// before the signal acts.
class TerminationSignalsHeld {
 public:
  TerminationSignalsHeld();
  ~TerminationSignalsHeld();
  TerminationSignalsHeld(const TerminationSignalsHeld&) = delete;
  TerminationSignalsHeld& operator=(const TerminationSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Removes a temporary file when a termination signal arrives while the
// file exists, from creation until it is renamed or removed, and then lets
// the signal end the process as before, so the exit status still names
// it. Installs the handler for its lifetime (not for ignored signals) and
// restores the previous dispositions after. One at a time.
class TemporaryFileGuard {
 public:
  TemporaryFileGuard();
  ~TemporaryFileGuard();
  TemporaryFileGuard(const TemporaryFileGuard&) = delete;
  TemporaryFileGuard& operator=(const TemporaryFileGuard&) = delete;

  // Names the file to remove; call with the signals held back. False when
  // the name does not fit (it then cannot be a path the system accepted).
  bool record(const std::string& path);

  // The file is gone or renamed; call with the signals held back.
  void forget();
};

#endif  // TALLYPLOT_TERMINATION_SIGNALS_H_

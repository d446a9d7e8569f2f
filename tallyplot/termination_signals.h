// The one owner of the signals that users and schedulers send to stop a
// run (SIGHUP, SIGINT, SIGTERM): a thread of its own waits for them, so
// that a stop leaves no temporary file, no half-written document and no
// statement running on the server, and the run still dies of the signal.
#ifndef TALLYPLOT_TERMINATION_SIGNALS_H_
#define TALLYPLOT_TERMINATION_SIGNALS_H_

#include <sys/types.h>

#include <mutex>
#include <string>

// Starts the thread that waits for the termination signals not ignored at
// start (under nohup SIGHUP stays ignored) for the rest of the run. Call
// once, before any other thread exists. On a signal it waits for any
// section held back by TerminationSignalsHeld, removes the temporary file
// a TemporaryFileGuard recorded, stops the child process and removes the
// directory a ChildProcessGuard recorded, cancels the statement in flight
// on the server (KILL QUERY; a bounded wait; the connections closed), and
// dies of the signal, so the exit status names it. The main thread, as it
// leaves (return from main, or exit()), waits for a signal that arrived
// before to take effect, so no such signal is lost to a run that ends
// meanwhile.
// SIGPIPE is not among them: the client library ignores it.
void watchTerminationSignals();

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
  std::unique_lock<std::recursive_mutex> lock_;
};

// Has a temporary file removed when a termination signal arrives while the
// file exists, from creation until it is renamed or removed.
class TemporaryFileGuard {
 public:
  TemporaryFileGuard() = default;
  ~TemporaryFileGuard();
  TemporaryFileGuard(const TemporaryFileGuard&) = delete;
  TemporaryFileGuard& operator=(const TemporaryFileGuard&) = delete;

  // Names the file to remove; call with the signals held back. False when
  // the name does not fit (it then cannot be a path the system accepted).
  bool record(const std::string& path);

  // The file is gone or renamed; call with the signals held back.
  void forget();
};

// Has a child process killed and reaped, and the scratch directory it works
// in removed with the files in it, when a termination signal arrives while
// they are recorded, so that a stopped run leaves neither behind.
class ChildProcessGuard {
 public:
  ChildProcessGuard() = default;
  ~ChildProcessGuard();
  ChildProcessGuard(const ChildProcessGuard&) = delete;
  ChildProcessGuard& operator=(const ChildProcessGuard&) = delete;

  // Names the directory; call with the signals held back.
  void recordDirectory(const std::string& path);

  // Names the child, started in that directory; call with the signals
  // held back.
  void recordChild(pid_t pid);

  // Kills the child unless it has ended, reaps it, removes the directory
  // and forgets both. Returns the child's wait status, -1 without a child.
  int end();
};

#endif  // TALLYPLOT_TERMINATION_SIGNALS_H_

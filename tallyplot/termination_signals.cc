#include "termination_signals.h"

#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "resultset.h"

namespace {

const int kTerminationSignals[] = {SIGHUP, SIGINT, SIGTERM};

// How long a cancelled statement may take to end before the run dies
// anyway: enough for the server to act on KILL QUERY, short enough for
// someone pressing Ctrl-C.
constexpr std::chrono::milliseconds kCancelWait{2000};

// Held by TerminationSignalsHeld; the signal thread takes it before acting.
// Never destroyed: the signal thread may still use it while the process
// exits.
std::recursive_mutex& heldBack() {
  static auto* mutex = new std::recursive_mutex;
  return *mutex;
}

// The temporary file to remove on a signal, guarded by heldBack().
std::string& temporaryPath() {
  static auto* path = new std::string;
  return *path;
}

// The child process to stop and the directory to remove on a signal,
// guarded by heldBack().
struct ChildWork {
  pid_t pid = 0;
  std::string directory;
};

ChildWork& childWork() {
  static auto* work = new ChildWork;
  return *work;
}

// Removes one entry of a directory tree that nftw walks depth first.
int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  return remove(path);
}

// Stops the recorded child, reaps it and removes its directory; returns
// its wait status, -1 when none was recorded. A child that has ended by
// itself is a zombie until reaped here, so its pid cannot name another
// process when it is killed. Call with heldBack() taken.
int endChildWork() {
  ChildWork& work = childWork();
  int status = -1;
  if (work.pid > 0) {
    kill(work.pid, SIGKILL);
    while (waitpid(work.pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (!work.directory.empty()) {
    nftw(work.directory.c_str(), removeEntry, 8, FTW_DEPTH | FTW_PHYS);
  }
  work = ChildWork();
  return status;
}

// The signal thread's descriptors: the watched signals, which only it
// reads, the main thread's notice that the run is leaving, and the
// answer that no signal is left to act on.
struct Watch {
  int signals = -1;
  int leaving = -1;
  int settled[2] = {-1, -1};
};

Watch& watch() {
  static Watch instance;
  return instance;
}

// Everything a signal must stop, then the signal's own default action, so
// the exit status still says which signal ended the run.
[[noreturn]] void stopRun(int sig, sigset_t watched) {
  std::lock_guard<std::recursive_mutex> held(heldBack());
  if (!temporaryPath().empty()) unlink(temporaryPath().c_str());
  endChildWork();
  // The signals keep their default action throughout, only held back: let
  // them through here, so a second one ends the run at once, there being
  // nothing left to tidy but the server's statement.
  pthread_sigmask(SIG_UNBLOCK, &watched, nullptr);
  ResultSet::cancelStatementInFlight(kCancelWait);
  raise(sig);
  _exit(128 + sig);  // not reached: the default action ends the process
}

// The number of a watched signal that has arrived, or 0 when none has.
int takeSignal(int signals) {
  signalfd_siginfo info;
  ssize_t n;
  do {
    n = read(signals, &info, sizeof info);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(sizeof info)
             ? static_cast<int>(info.ssi_signo)
             : 0;
}

// The signal thread: acts on the first signal. When the main thread is
// leaving, a signal that arrived before is acted on all the same, so the
// run still dies of it; otherwise the main thread is let go.
void watchSignals(sigset_t watched) {
  const Watch& w = watch();
  pollfd fds[2] = {{w.signals, POLLIN, 0}, {w.leaving, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (int sig = takeSignal(w.signals)) stopRun(sig, watched);
    if (fds[1].revents != 0) break;
  }
  const char settled = 0;
  while (write(w.settled[1], &settled, 1) < 0 && errno == EINTR) {
  }
}

// Run as the main thread leaves (a return from main, or exit()): waits
// until the signal thread has either let it go or ended the process.
void settleSignals() {
  const Watch& w = watch();
  const uint64_t one = 1;
  if (write(w.leaving, &one, sizeof one) != sizeof one) return;
  char settled;
  while (read(w.settled[0], &settled, 1) < 0 && errno == EINTR) {
  }
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
  Watch& w = watch();
  w.signals = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  w.leaving = eventfd(0, EFD_CLOEXEC);
  if (w.signals < 0 || w.leaving < 0 || pipe2(w.settled, O_CLOEXEC) != 0) {
    // Without them the signals keep their default action: a run still
    // ends at once, only less tidily.
    return;
  }
  // Blocked here, before the thread exists, so every thread inherits the
  // block and only the signal thread ever takes these signals.
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread(watchSignals, set).detach();
  std::atexit(settleSignals);
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

ChildProcessGuard::~ChildProcessGuard() { end(); }

void ChildProcessGuard::recordDirectory(const std::string& path) {
  std::lock_guard<std::recursive_mutex> held(heldBack());
  childWork().directory = path;
}

void ChildProcessGuard::recordChild(pid_t pid) {
  std::lock_guard<std::recursive_mutex> held(heldBack());
  childWork().pid = pid;
}

int ChildProcessGuard::end() {
  std::lock_guard<std::recursive_mutex> held(heldBack());
  return endChildWork();
}

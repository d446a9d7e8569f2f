// A library for LD_PRELOAD that holds one call of the process it is loaded
// into, so a test can signal a run at that point of writing its document.
// TALLYPLOT_TEST_HOLD names the call ("fsync" or "ftruncate"); on entry it
// creates the file TALLYPLOT_TEST_HOLD_ENTERED names, then waits (bounded)
// until the file TALLYPLOT_TEST_HOLD_RELEASE names exists, or a signal ends
// the process, before making the call for real. "mysql_thread_init" holds
// each thread but the first that starts to use the client library (the
// threads of a split scan, before their first statement). "poll" holds the
// signal
// thread once its wait on the signals returns, which, before any signal,
// is when the run leaves: a signal sent then arrives after the document is
// written and before the exit.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Long enough for any test to act on the announcement, short enough that
// a run nobody releases still finishes.
const int kHoldPolls = 3000;
const timespec kPoll = {0, 10 * 1000 * 1000};

const char* setting(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// Announces the call and waits for the release, if this is the held call.
void holdIf(const char* call) {
  const char* held = setting("TALLYPLOT_TEST_HOLD");
  if (held == nullptr || std::strcmp(held, call) != 0) return;
  if (const char* entered = setting("TALLYPLOT_TEST_HOLD_ENTERED")) {
    int fd = open(entered, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) close(fd);
  }
  const char* release = setting("TALLYPLOT_TEST_HOLD_RELEASE");
  for (int i = 0; i < kHoldPolls; ++i) {
    if (release != nullptr && access(release, F_OK) == 0) return;
    nanosleep(&kPoll, nullptr);
  }
}

// Whether fd is a signalfd, the signal thread's.
bool isSignalFd(int fd) {
  char path[64], target[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(path, target, sizeof target - 1);
  if (n < 0) return false;
  target[n] = '\0';
  return std::strcmp(target, "anon_inode:[signalfd]") == 0;
}

}  // namespace

extern "C" int fsync(int fd) {
  static auto next = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
  holdIf("fsync");
  return next != nullptr ? next(fd) : (errno = ENOSYS, -1);
}

extern "C" int ftruncate(int fd, off_t length) {
  static auto next =
      reinterpret_cast<int (*)(int, off_t)>(dlsym(RTLD_NEXT, "ftruncate"));
  holdIf("ftruncate");
  return next != nullptr ? next(fd, length) : (errno = ENOSYS, -1);
}

extern "C" int poll(pollfd* fds, nfds_t count, int timeout) {
  static auto next =
      reinterpret_cast<int (*)(pollfd*, nfds_t, int)>(dlsym(RTLD_NEXT, "poll"));
  if (next == nullptr) return errno = ENOSYS, -1;
  const int ready = next(fds, count, timeout);
  if (count > 0 && isSignalFd(fds[0].fd)) holdIf("poll");
  return ready;
}

extern "C" char mysql_thread_init() {
  static auto next =
      reinterpret_cast<char (*)()>(dlsym(RTLD_NEXT, "mysql_thread_init"));
  if (syscall(SYS_gettid) != getpid()) holdIf("mysql_thread_init");
  return next != nullptr ? next() : 1;
}

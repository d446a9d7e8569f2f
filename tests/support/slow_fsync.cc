// A library for LD_PRELOAD that holds every fsync of the process it is
// loaded into, so a test can signal a run while it writes its document.
// When TALLYPLOT_TEST_FSYNC_ENTERED names a path, fsync creates that file
// on entry, telling the test that the run is inside the write; it then
// waits (bounded) before syncing for real, or until a signal ends it.
#include <dlfcn.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

// Long enough for any test to act on the announcement, short enough that
// a run nobody signals still finishes.
const int kHoldSeconds = 30;

// Creates the announcement file, if the test asked for one.
void announceEntry() {
  const char* path = std::getenv("TALLYPLOT_TEST_FSYNC_ENTERED");
  if (path == nullptr || *path == '\0') return;
  int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) close(fd);
}

// Sleeps for kHoldSeconds; a handled signal may cut each sleep short.
void hold() {
  timespec left = {kHoldSeconds, 0};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace

extern "C" int fsync(int fd) {
  using Fsync = int (*)(int);
  static Fsync real = reinterpret_cast<Fsync>(dlsym(RTLD_NEXT, "fsync"));
  announceEntry();
  hold();
  if (real == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  return real(fd);
}

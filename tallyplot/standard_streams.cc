#include "standard_streams.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The standard descriptors keepStandardStreams opened a stand-in on.
bool gStandIn[3] = {false, false, false};

// A stand-in at the lowest free descriptor: a file in memory, so that its
// device and inode are its own, where /dev/null's are also those of a user
// who names /dev/null as the output.
int openStandIn(int fd) {
  const int memory = memfd_create("tallyplot-closed-stream", 0);
  if (memory >= 0) return memory;
  return open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
}

}  // namespace

void keepStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // The lowest free number: this one.
      gStandIn[fd] = openStandIn(fd) == fd;
    }
  }
}

bool isStandIn(int fd) { return fd >= 0 && fd <= 2 && gStandIn[fd]; }

bool namesStandIn(const std::string& path) {
  struct stat target;
  if (stat(path.c_str(), &target) != 0) return false;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    struct stat standIn;
    if (gStandIn[fd] && fstat(fd, &standIn) == 0 &&
        standIn.st_dev == target.st_dev && standIn.st_ino == target.st_ino) {
      return true;
    }
  }
  return false;
}

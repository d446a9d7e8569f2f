#include "standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

// The standard descriptors keepStandardStreams opened on /dev/null.
bool gStandIn[3] = {false, false, false};

// The directory part of path, "." when it has none.
std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Whether dir, resolved, is this process's own directory of descriptors
// and name one of its stand-ins.
bool isStandInEntry(const std::string& dir, const std::string& name) {
  static const std::string own = "/proc/" + std::to_string(getpid()) + "/fd";
  return dir == own && name.size() == 1 && name[0] >= '0' && name[0] <= '2' &&
         gStandIn[name[0] - '0'];
}

}  // namespace

void keepStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // The lowest free number: this one.
      gStandIn[fd] = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY
                                                          : O_WRONLY) == fd;
    }
  }
}

bool namesStandIn(const std::string& path) {
  if (!gStandIn[0] && !gStandIn[1] && !gStandIn[2]) return false;
  // Follows the path's links one at a time, since the last one, from
  // /proc/self/fd/N, leads to /dev/null itself, which may well be the
  // user's output.
  std::string next = path;
  for (int links = 0; links < 40; ++links) {
    char dir[PATH_MAX];
    if (realpath(directoryOf(next).c_str(), dir) == nullptr) return false;
    const std::string name = next.substr(next.rfind('/') + 1);
    if (isStandInEntry(dir, name)) return true;
    const std::string entry = std::string(dir) + "/" + name;
    char target[PATH_MAX];
    const ssize_t length = readlink(entry.c_str(), target, sizeof target - 1);
    if (length < 0) return false;
    target[length] = '\0';
    next = target[0] == '/' ? target : std::string(dir) + "/" + target;
  }
  return false;
}

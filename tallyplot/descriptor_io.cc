#include "descriptor_io.h"

#include <unistd.h>

#include <cerrno>

bool writeAll(int fd, const std::string& content) {
  const char* next = content.data();
  size_t left = content.size();
  while (left > 0) {
    ssize_t written = ::write(fd, next, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    next += written;
    left -= static_cast<size_t>(written);
  }
  return true;
}

bool readWhole(int fd, std::string& content) {
  content.clear();
  char buffer[65536];
  for (;;) {
    ssize_t n =
        pread(fd, buffer, sizeof buffer, static_cast<off_t>(content.size()));
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    content.append(buffer, static_cast<size_t>(n));
  }
}

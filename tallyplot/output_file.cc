#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// The directory part of path, "." when it has none.
std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The file a path finally names, so that replacing it keeps any symbolic
// link that leads there; the path itself when it does not exist yet.
std::string resolvedPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

// Writes all of content to fd, retrying short and interrupted writes.
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

// The permissions a newly created file gets from this process.
mode_t newFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Creates an empty temporary file beside target; returns its descriptor
// and sets tmpname, or -1 with errno set.
int createTemporaryBeside(const std::string& target, std::string& tmpname) {
  // A short fixed name: the target's own name may already be as long as
  // a file name can be.
  std::string name = directoryOf(target) + "/.tallyplot-XXXXXX";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  int fd = mkstemp(buffer.data());
  if (fd >= 0) tmpname = buffer.data();
  return fd;
}

// The descriptor a path names when it is one of this process's own open
// descriptors (/dev/stdout, /dev/fd/N, ...), else -1. Those are written
// through the descriptor itself so that a shell's ">>" keeps appending and
// a redirected file is never replaced behind the shell's back.
int inheritedDescriptor(const std::string& path) {
  if (path == "/dev/stdin") return 0;
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    std::string start(prefix);
    if (path.compare(0, start.size(), start) != 0) continue;
    std::string number = path.substr(start.size());
    if (number.empty() || number.size() > 9 ||
        number.find_first_not_of("0123456789") != std::string::npos) {
      return -1;
    }
    return std::atoi(number.c_str());
  }
  return -1;
}

// Whether a failure to create a file in a directory only means that the
// directory is closed to new files, while an existing file in it may still
// be written in place.
bool isDirectoryClosed(int errnum) {
  return errnum == EACCES || errnum == EPERM;
}

// Whether path is an existing regular file this process may write.
bool isWritableRegularFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         access(path.c_str(), W_OK) == 0;
}

// Whether fd is open for writing.
bool isWritableDescriptor(int fd) {
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
}

}  // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {}

bool OutputFile::fail(int errnum) {
  error_ = "Failed to write output file: " + path_ + ": " + strerror(errnum);
  return false;
}

bool OutputFile::checkWritable() {
  if (path_.empty()) return fail(ENOENT);
  int fd = inheritedDescriptor(path_);
  if (fd >= 0) return isWritableDescriptor(fd) || fail(EBADF);
  struct stat info;
  if (stat(path_.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return fail(EISDIR);
    if (!S_ISREG(info.st_mode)) return true;  // written in place at the end
    if (access(path_.c_str(), W_OK) != 0) return fail(errno);
  } else if (errno != ENOENT) {
    return fail(errno);
  } else if (lstat(path_.c_str(), &info) == 0) {
    // A link to nowhere: renaming over it would silently replace the link
    // itself, which may be a system file such as a closed /dev/stdout.
    return fail(ENOENT);
  }
  // Prove that the directory takes a new file, without leaving one.
  std::string tmpname;
  std::string target = resolvedPath(path_);
  fd = createTemporaryBeside(target, tmpname);
  if (fd < 0) {
    int errnum = errno;
    if (isDirectoryClosed(errnum) && isWritableRegularFile(target)) {
      return true;  // written in place at the end
    }
    return fail(errnum);
  }
  close(fd);
  unlink(tmpname.c_str());
  return true;
}

bool OutputFile::write(const std::string& content) {
  int fd = inheritedDescriptor(path_);
  if (fd >= 0) return writeAll(fd, content) || fail(errno);
  struct stat info;
  if (stat(path_.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    return writeInPlace(path_, content);
  }
  return replaceAtomically(resolvedPath(path_), content);
}

bool OutputFile::writeInPlace(const std::string& target,
                              const std::string& content) {
  int fd = open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return fail(errno);
  if (!writeAll(fd, content)) {
    int errnum = errno;
    close(fd);
    return fail(errnum);
  }
  if (close(fd) != 0) return fail(errno);
  return true;
}

bool OutputFile::replaceAtomically(const std::string& target,
                                   const std::string& content) {
  struct stat info;
  mode_t mode =
      stat(target.c_str(), &info) == 0 ? (info.st_mode & 07777) : newFileMode();
  std::string tmpname;
  int fd = createTemporaryBeside(target, tmpname);
  if (fd < 0) {
    int errnum = errno;
    // Replacing needs a new file beside the target; without one, writing
    // the existing file itself is still what the user asked for.
    if (isDirectoryClosed(errnum) && isWritableRegularFile(target)) {
      return writeInPlace(target, content);
    }
    return fail(errnum);
  }
  bool ok = fchmod(fd, mode) == 0 && writeAll(fd, content) && fsync(fd) == 0;
  int errnum = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    errnum = errno;
  }
  if (ok && rename(tmpname.c_str(), target.c_str()) != 0) {
    ok = false;
    errnum = errno;
  }
  if (!ok) {
    unlink(tmpname.c_str());
    return fail(errnum);
  }
  return true;
}

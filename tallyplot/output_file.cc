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

#include "descriptor_io.h"
#include "standard_streams.h"
#include "termination_signals.h"

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

// Whether a failure to create or rename a file in a directory is only the
// directory's permissions refusing it (closed to new files, or sticky and
// the target someone else's), while an existing file in it may still be
// written in place.
bool isRefusedByDirectory(int errnum) {
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

// Reserves the blocks a regular file of size bytes needs to grow to length,
// without changing its size or any byte: a full disk or quota then fails
// here, before any old byte is overwritten. Returns 0, or the error. A
// reservation that fails part way may keep what it got (ext4 does), so the
// blocks beyond the end are given back. Only the growth needs new blocks,
// and KEEP_SIZE keeps a failure from leaving the file longer.
int reserveGrowth(int fd, off_t size, off_t length) {
  if (length <= size) return 0;
  if (fallocate(fd, FALLOC_FL_KEEP_SIZE, size, length - size) == 0) return 0;
  int errnum = errno;
  // The old bytes are intact either way; at worst the space stays taken.
  int ignored = ftruncate(fd, size);
  (void)ignored;
  return errnum;
}

// Makes the regular file open at fd hold exactly content; on a full disk
// it keeps its old bytes, except on file systems that cannot reserve
// space.
bool overwriteRegularFile(int fd, const std::string& content) {
  struct stat info;
  if (fstat(fd, &info) != 0) return false;
  off_t length = static_cast<off_t>(content.size());
  int reserved = reserveGrowth(fd, info.st_size, length);
  if (reserved != 0 && reserved != EOPNOTSUPP && reserved != EINVAL) {
    errno = reserved;
    return false;
  }
  bool ok;
  int errnum;
  {
    TerminationSignalsHeld held;  // the file is either old or complete
    ok = writeAll(fd, content) && ftruncate(fd, length) == 0 && fsync(fd) == 0;
    errnum = errno;
  }
  errno = errnum;
  return ok;
}

}  // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {}

std::string outputFileError(const std::string& path,
                            const std::string& reason) {
  return "Failed to write output file: " + path + ": " + reason;
}

bool OutputFile::fail(int errnum) {
  error_ = outputFileError(path_, strerror(errnum));
  return false;
}

bool OutputFile::checkWritable() {
  if (path_.empty()) return fail(ENOENT);
  // The stand-in the run opened for a closed stream would swallow the
  // document, and the run would still say it succeeded.
  if (namesStandIn(path_)) return fail(EBADF);
  int fd = inheritedDescriptor(path_);
  if (fd >= 0) return isWritableDescriptor(fd) || fail(EBADF);
  struct stat info;
  if (stat(path_.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return fail(EISDIR);
    // A file the user may not write is refused now, not after the queries.
    if (access(path_.c_str(), W_OK) != 0) return fail(errno);
    if (!S_ISREG(info.st_mode)) return true;  // written in place at the end
  } else if (errno != ENOENT) {
    return fail(errno);
  } else if (lstat(path_.c_str(), &info) == 0) {
    // A link to nowhere: renaming over it would silently replace the link
    // itself, which may be a system file such as a closed /dev/stdout.
    return fail(ENOENT);
  }
  // Prove that the directory takes a new file, without leaving one, even
  // to a signal.
  std::string tmpname;
  std::string target = resolvedPath(path_);
  int errnum;
  {
    TerminationSignalsHeld held;
    fd = createTemporaryBeside(target, tmpname);
    if (fd >= 0) {
      close(fd);
      unlink(tmpname.c_str());
      return true;
    }
    errnum = errno;
  }
  if (isRefusedByDirectory(errnum) && isWritableRegularFile(target)) {
    return true;  // written in place at the end
  }
  return fail(errnum);
}

bool OutputFile::write(const std::string& content) {
  if (namesStandIn(path_)) return fail(EBADF);
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
  int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return fail(errno);
  struct stat info;
  bool ok = fstat(fd, &info) == 0 &&
            (S_ISREG(info.st_mode) ? overwriteRegularFile(fd, content)
                                   : writeAll(fd, content));
  int errnum = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    errnum = errno;
  }
  return ok || fail(errnum);
}

bool OutputFile::replaceAtomically(const std::string& target,
                                   const std::string& content) {
  struct stat info;
  mode_t mode =
      stat(target.c_str(), &info) == 0 ? (info.st_mode & 07777) : newFileMode();
  TemporaryFileGuard guard;
  std::string tmpname;
  int fd;
  int errnum;
  {
    TerminationSignalsHeld held;
    fd = createTemporaryBeside(target, tmpname);
    errnum = errno;
    if (fd >= 0 && !guard.record(tmpname)) {
      close(fd);
      unlink(tmpname.c_str());
      return fail(ENAMETOOLONG);
    }
  }
  if (fd < 0) {
    // Replacing needs a new file beside the target; without one, writing
    // the existing file itself is still what the user asked for.
    if (isRefusedByDirectory(errnum) && isWritableRegularFile(target)) {
      return writeInPlace(target, content);
    }
    return fail(errnum);
  }
  bool ok = fchmod(fd, mode) == 0 && writeAll(fd, content) && fsync(fd) == 0;
  errnum = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    errnum = errno;
  }
  bool renameRefused = false;
  {
    // Held back so that a signal finds either the temporary file still
    // recorded, or the target complete and nothing to remove.
    TerminationSignalsHeld held;
    if (ok && rename(tmpname.c_str(), target.c_str()) != 0) {
      ok = false;
      errnum = errno;
      renameRefused = isRefusedByDirectory(errnum);
    }
    if (!ok) unlink(tmpname.c_str());
    guard.forget();
  }
  if (ok) return true;
  // A sticky directory forbids replacing another user's file even where
  // that file may be written: write it in place, as the early check,
  // which only asked whether the file is writable, promised.
  if (renameRefused && isWritableRegularFile(target)) {
    return writeInPlace(target, content);
  }
  return fail(errnum);
}

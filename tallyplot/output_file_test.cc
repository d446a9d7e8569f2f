// Unit tests of OutputFile: the early writability check, whole-document
// writes that never leave a half-written or temporary file behind, and
// in-place writes to targets that are not regular files.
#include "output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

using test_support::fileExists;
using test_support::listDirectory;
using test_support::readFile;
using test_support::TempDir;
using test_support::writeFile;

const char kPrefix[] = "Failed to write output file: ";

mode_t fileType(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & S_IFMT;
}

// Runs a test body with the working directory set to dir.
void inDirectory(const std::string& dir, const std::function<void()>& body) {
  char previous[PATH_MAX];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  body();
  ASSERT_EQ(chdir(previous), 0);
}

// A path that cannot be written, and the reason given for it.
struct BadTarget {
  const char* name;
  std::string path;    // relative to the temporary directory unless absolute
  std::string reason;  // strerror text
  bool checkFindsIt;   // whether checkWritable already refuses it
};

std::vector<BadTarget> badTargets() {
  return {
      {"missing directory", "nodir/out.eps", "No such file or directory", true},
      {"missing nested directory", "a/b/c/out.eps", "No such file or directory",
       true},
      {"target is a directory", "adir", "Is a directory", true},
      {"full device", "/dev/full", "No space left on device", false},
  };
}

std::string pathIn(const TempDir& dir, const std::string& path) {
  return path[0] == '/' ? path : dir.file(path);
}

// A regular file is written whole, new or over a longer one, through a
// relative path too, and with a name as long as names may be (the temporary
// file must not borrow it); the early check changes nothing.
TEST(OutputFileTest, WritesRegularFilesWhole) {
  struct Case {
    const char* name;
    std::string file;      // in the working directory
    const char* previous;  // its old content; null: no such file yet
    bool relative;         // named relative to the working directory
    std::string content;
  };
  const std::string longer(100000, 'o');
  const Case cases[] = {
      {"new file", "out.eps", nullptr, false, "line 1\nline 2\n"},
      {"longer existing file", "out.eps", longer.c_str(), false, "short\n"},
      {"relative path", "out.eps", nullptr, true, "relative\n"},
      {"longest name", std::string(NAME_MAX, 'n'), nullptr, false, "doc\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (c.previous) writeFile(dir.file(c.file), c.previous);
    const std::vector<std::string> before =
        c.previous ? std::vector<std::string>{c.file}
                   : std::vector<std::string>{};
    inDirectory(dir.path(), [&] {
      OutputFile file(c.relative ? c.file : dir.file(c.file));
      EXPECT_TRUE(file.checkWritable()) << file.error();
      EXPECT_EQ(listDirectory(dir.path()), before);
      EXPECT_TRUE(!c.previous || readFile(dir.file(c.file)) == c.previous);
      EXPECT_TRUE(file.write(c.content)) << file.error();
    });
    EXPECT_EQ(readFile(dir.file(c.file)), c.content);
    EXPECT_EQ(listDirectory(dir.path()), std::vector<std::string>{c.file});
  }
}

TEST(OutputFileTest, CheckAcceptsDevicesWrittenInPlace) {
  for (const char* device : {"/dev/null", "/dev/full"}) {
    SCOPED_TRACE(device);
    OutputFile file(device);
    EXPECT_TRUE(file.checkWritable()) << file.error();
    EXPECT_EQ(fileType(device), S_IFCHR);
  }
}

TEST(OutputFileTest, CheckRefusesPathsThatCannotBeCreated) {
  for (const BadTarget& target : badTargets()) {
    if (!target.checkFindsIt) continue;
    SCOPED_TRACE(target.name);
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("adir").c_str(), 0755), 0);
    std::string path = pathIn(dir, target.path);
    OutputFile file(path);
    EXPECT_FALSE(file.checkWritable());
    EXPECT_EQ(file.error(), kPrefix + path + ": " + target.reason);
    EXPECT_EQ(listDirectory(dir.path()), std::vector<std::string>{"adir"});
    EXPECT_EQ(listDirectory(dir.file("adir")), std::vector<std::string>{});
  }
}

TEST(OutputFileTest, WriteFailuresSayWhyAndLeaveNothingBehind) {
  for (const BadTarget& target : badTargets()) {
    SCOPED_TRACE(target.name);
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("adir").c_str(), 0755), 0);
    std::string path = pathIn(dir, target.path);
    OutputFile file(path);
    EXPECT_FALSE(file.write("%!PS-Adobe-3.0 EPSF-3.0\n"));
    EXPECT_EQ(file.error(), kPrefix + path + ": " + target.reason);
    EXPECT_EQ(listDirectory(dir.path()), std::vector<std::string>{"adir"});
    EXPECT_EQ(listDirectory(dir.file("adir")), std::vector<std::string>{});
  }
}

TEST(OutputFileTest, ErrorNamesThePathAsGiven) {
  TempDir dir;
  inDirectory(dir.path(), [] {
    OutputFile file("./nodir/../nodir/out.eps");
    EXPECT_FALSE(file.checkWritable());
    EXPECT_EQ(file.error(), std::string(kPrefix) +
                                "./nodir/../nodir/out.eps: No such file or "
                                "directory");
  });
}

TEST(OutputFileTest, ReplacingKeepsTheFilePermissions) {
  TempDir dir;
  writeFile(dir.file("out.eps"), "old\n");
  ASSERT_EQ(chmod(dir.file("out.eps").c_str(), 0640), 0);
  OutputFile file(dir.file("out.eps"));
  ASSERT_TRUE(file.write("new\n")) << file.error();
  struct stat info;
  ASSERT_EQ(stat(dir.file("out.eps").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(OutputFileTest, WritesThroughASymbolicLinkAndKeepsIt) {
  TempDir dir;
  ASSERT_EQ(mkdir(dir.file("real").c_str(), 0755), 0);
  writeFile(dir.file("real/chart.eps"), "old\n");
  ASSERT_EQ(symlink("real/chart.eps", dir.file("link.eps").c_str()), 0);
  OutputFile file(dir.file("link.eps"));
  ASSERT_TRUE(file.checkWritable()) << file.error();
  ASSERT_TRUE(file.write("new\n")) << file.error();
  EXPECT_EQ(fileType(dir.file("link.eps")), S_IFLNK);
  EXPECT_EQ(readFile(dir.file("real/chart.eps")), "new\n");
  EXPECT_EQ(listDirectory(dir.path()),
            (std::vector<std::string>{"link.eps", "real"}));
  EXPECT_EQ(listDirectory(dir.file("real")),
            std::vector<std::string>{"chart.eps"});
}

TEST(OutputFileTest, WritesAFifoInPlace) {
  TempDir dir;
  std::string fifo = dir.file("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Larger than a pipe's buffer, so the writer must keep going after short
  // writes while the reader drains.
  std::string content;
  for (int i = 0; content.size() < 300000; ++i) {
    content += std::to_string(i) + "\n";
  }
  std::string received;
  std::thread reader([&] {
    int fd = open(fifo.c_str(), O_RDONLY);
    if (fd < 0) return;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
      received.append(buffer, n);
    close(fd);
  });
  OutputFile file(fifo);
  EXPECT_TRUE(file.checkWritable()) << file.error();
  EXPECT_TRUE(file.write(content)) << file.error();
  reader.join();
  EXPECT_EQ(received.size(), content.size());
  EXPECT_TRUE(received == content);
  EXPECT_EQ(fileType(fifo), S_IFIFO);
  EXPECT_EQ(listDirectory(dir.path()), std::vector<std::string>{"pipe"});
}

TEST(OutputFileTest, WritesTheNullDeviceInPlace) {
  OutputFile file("/dev/null");
  EXPECT_TRUE(file.write("discarded\n")) << file.error();
  EXPECT_EQ(fileType("/dev/null"), S_IFCHR);
}

TEST(OutputFileTest, AFailedWriteKeepsTheExistingFile) {
  // A file size limit makes writing the new copy fail halfway, even for
  // root: the old document must stay exactly as it was, and the partial
  // copy must be gone.
  TempDir dir;
  const std::string old(4000, 'o');
  writeFile(dir.file("out.eps"), old);
  OutputFile file(dir.file("out.eps"));
  ASSERT_TRUE(file.checkWritable()) << file.error();
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit limited = saved;
  limited.rlim_cur = 1024;
  sighandler_t previous = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  bool written = file.write(std::string(8000, 'n'));
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_FALSE(written);
  EXPECT_EQ(file.error(), kPrefix + dir.file("out.eps") + ": File too large");
  EXPECT_TRUE(readFile(dir.file("out.eps")) == old);
  EXPECT_EQ(listDirectory(dir.path()), std::vector<std::string>{"out.eps"});
}

// Descriptor paths (/dev/fd/N and the like) are written through the open
// descriptor itself, so an append-mode redirection keeps what it holds and
// no file is ever renamed over.
TEST(OutputFileTest, WritesThroughAnInheritedDescriptor) {
  TempDir dir;
  std::string path = dir.file("redirected.txt");
  writeFile(path, "previous\n");
  int fd = open(path.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  const std::string prefixes[] = {"/dev/fd/", "/proc/self/fd/"};
  for (const std::string& prefix : prefixes) {
    SCOPED_TRACE(prefix);
    OutputFile file(prefix + std::to_string(fd));
    ASSERT_TRUE(file.checkWritable()) << file.error();
    ASSERT_TRUE(file.write(prefix + "\n")) << file.error();
  }
  close(fd);
  EXPECT_EQ(readFile(path), "previous\n/dev/fd/\n/proc/self/fd/\n");
  EXPECT_EQ(listDirectory(dir.path()),
            std::vector<std::string>{"redirected.txt"});
}

TEST(OutputFileTest, RefusesAClosedOrReadOnlyDescriptor) {
  TempDir dir;
  std::string path = dir.file("readonly.txt");
  writeFile(path, "kept\n");
  int readonly = open(path.c_str(), O_RDONLY);
  ASSERT_GE(readonly, 0);
  int closed = dup(readonly);
  ASSERT_GE(closed, 0);
  close(closed);
  const int descriptors[] = {readonly, closed};
  for (int fd : descriptors) {
    std::string target = "/dev/fd/" + std::to_string(fd);
    SCOPED_TRACE(target);
    OutputFile file(target);
    EXPECT_FALSE(file.checkWritable());
    EXPECT_EQ(file.error(), kPrefix + target + ": Bad file descriptor");
  }
  close(readonly);
  EXPECT_EQ(readFile(path), "kept\n");
}

TEST(OutputFileTest, RefusesADanglingLinkAndKeepsIt) {
  TempDir dir;
  std::string link = dir.file("dangling.eps");
  ASSERT_EQ(symlink(dir.file("missing/target.eps").c_str(), link.c_str()), 0);
  OutputFile file(link);
  EXPECT_FALSE(file.checkWritable());
  EXPECT_EQ(file.error(), kPrefix + link + ": No such file or directory");
  EXPECT_EQ(fileType(link), static_cast<mode_t>(S_IFLNK));
  EXPECT_EQ(listDirectory(dir.path()),
            std::vector<std::string>{"dangling.eps"});
}

TEST(OutputFileTest, EmptyPathIsRefusedAtOnce) {
  OutputFile file("");
  EXPECT_FALSE(file.checkWritable());
  EXPECT_EQ(file.error(), std::string(kPrefix) + ": No such file or directory");
}

// The unprivileged user the permission tests switch to: root may write
// anywhere, so only another user shows what permissions refuse.
const uid_t kNobody = 65534;

// Runs body in a child process as user uid in group gid alone (no
// supplementary groups); the child's verdict is whether body returned
// true. Fails the test when the child cannot run.
bool succeedsAs(uid_t uid, gid_t gid, const std::function<bool()>& body) {
  pid_t child = fork();
  if (child < 0) {
    ADD_FAILURE() << "fork: " << strerror(errno);
    return false;
  }
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
      _exit(2);
    }
    _exit(body() ? 0 : 1);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) == 2) {
    ADD_FAILURE() << "the child running as user " << uid
                  << " did not finish normally";
    return false;
  }
  return WEXITSTATUS(status) == 0;
}

bool succeedsAsNobody(const std::function<bool()>& body) {
  return succeedsAs(kNobody, kNobody, body);
}

// A group shared by two other users, by number: no accounts are needed.
const gid_t kSharedGroup = 64101;
const uid_t kFileOwner = 64102;
const uid_t kGroupMember = 64103;

// An existing file that the writer may write but not replace: the
// directory either takes no new files from them, or is sticky and the
// file belongs to someone else.
struct InPlaceTarget {
  const char* name;
  mode_t directoryMode;  // owned by root
  gid_t directoryGroup;
  uid_t fileOwner;
  gid_t fileGroup;
  mode_t fileMode;
  uid_t writer;
  gid_t writerGroup;
};

// Such a file is written in place. Runs as an unprivileged user in a
// child, since root may create and replace files anywhere.
TEST(OutputFileTest, WritesInPlaceAWritableFileItMayNotReplace) {
  const InPlaceTarget targets[] = {
      {"own file, directory closed to new files", 0755, 0, kNobody, kNobody,
       0644, kNobody, kNobody},
      {"group member's file, shared sticky directory", 01775, kSharedGroup,
       kFileOwner, kSharedGroup, 0664, kGroupMember, kSharedGroup},
  };
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to another user";
  for (const InPlaceTarget& target : targets) {
    SCOPED_TRACE(target.name);
    TempDir dir;
    std::string shared = dir.file("shared");
    ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
    std::string path = shared + "/out.eps";
    writeFile(path, "old\n");
    ASSERT_EQ(chown(path.c_str(), target.fileOwner, target.fileGroup), 0);
    ASSERT_EQ(chmod(path.c_str(), target.fileMode), 0);
    ASSERT_EQ(chown(shared.c_str(), 0, target.directoryGroup), 0);
    ASSERT_EQ(chmod(shared.c_str(), target.directoryMode), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    EXPECT_TRUE(succeedsAs(target.writer, target.writerGroup, [&path] {
      OutputFile file(path);
      return file.checkWritable() && file.write("new\n");
    }));
    EXPECT_EQ(readFile(path), "new\n");
    EXPECT_EQ(listDirectory(shared), std::vector<std::string>{"out.eps"});
  }
}

// A small file system mounted on a directory for one test: tmpfs, or ext4
// on a loop-mounted image (ext4 keeps what a failed reservation got).
class SmallFileSystem {
 public:
  SmallFileSystem(const std::string& type, const std::string& dir,
                  const std::string& image)
      : dir_(dir) {
    if (type == "tmpfs") {
      mounted_ =
          mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=1m,mode=0755") == 0;
      if (!mounted_) error_ = strerror(errno);
      return;
    }
    test_support::ProcessResult made = test_support::runProcess(
        "/bin/sh",
        {"-c", "truncate -s 8M \"$0\" && mkfs.ext4 -q -m 0 \"$0\"", image});
    test_support::ProcessResult mounted =
        made.status == 0
            ? test_support::runProcess("mount", {"-o", "loop", image, dir})
            : made;
    mounted_ = mounted.status == 0;
    if (!mounted_) error_ = mounted.out + mounted.err;
  }
  ~SmallFileSystem() {
    if (mounted_ && umount(dir_.c_str()) != 0) {
      ADD_FAILURE() << "umount " << dir_ << ": " << strerror(errno);
    }
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }

 private:
  std::string dir_;
  bool mounted_ = false;
  std::string error_;
};

// Writes to path until the file system holding it has no space left.
void fillFileSystem(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0) << path << ": " << strerror(errno);
  const std::string chunk(65536, 'f');
  size_t size = chunk.size();
  while (size > 0) {
    ssize_t written = write(fd, chunk.data(), size);
    if (written > 0) continue;
    if (written < 0 && errno != ENOSPC) {
      ADD_FAILURE() << path << ": " << strerror(errno);
      break;
    }
    size /= 2;  // leave no partly free page behind
  }
  close(fd);
}

// The free blocks of the file system holding path.
fsblkcnt_t freeBlocks(const std::string& path) {
  struct statvfs info;
  EXPECT_EQ(statvfs(path.c_str(), &info), 0) << strerror(errno);
  return info.f_bfree;
}

// On a full disk, a file written in place keeps its old bytes: the space
// for the new document is reserved before any old byte is overwritten, and
// a reservation that fails part way neither lengthens nor changes the file.
TEST(OutputFileTest, AFullDiskKeepsAFileWrittenInPlace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a file system";
  for (const char* type : {"tmpfs", "ext4"}) {
    SCOPED_TRACE(type);
    TempDir dir;
    std::string closed = dir.file("closed");
    ASSERT_EQ(mkdir(closed.c_str(), 0755), 0);
    SmallFileSystem fs(type, closed, dir.file("image"));
    if (!fs.mounted()) {
      GTEST_SKIP() << "cannot mount " << type << ": " << fs.error();
    }
    std::string path = closed + "/out.eps";
    const std::string old(4000, 'o');
    writeFile(path, old);
    ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
    // Full but for 32 KiB, so that a reservation of the new document's
    // 64 KiB can get part of what it asks for.
    fillFileSystem(closed + "/filler");
    struct stat filler;
    ASSERT_EQ(stat((closed + "/filler").c_str(), &filler), 0);
    ASSERT_EQ(truncate((closed + "/filler").c_str(), filler.st_size - 32768),
              0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const fsblkcnt_t freeBefore = freeBlocks(closed);
    EXPECT_TRUE(succeedsAsNobody([&path] {
      OutputFile file(path);
      return file.checkWritable() && !file.write(std::string(65536, 'n')) &&
             file.error() == kPrefix + path + ": No space left on device";
    }));
    EXPECT_TRUE(readFile(path) == old) << "the old document was changed";
    EXPECT_EQ(freeBlocks(closed), freeBefore) << "reserved blocks kept";
    std::vector<std::string> names = listDirectory(closed);
    names.erase(std::remove(names.begin(), names.end(), "lost+found"),
                names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"filler", "out.eps"}));
  }
}

// A new document gets the permissions any new file of the process gets.
TEST(OutputFileTest, NewFileFollowsTheUmask) {
  TempDir dir;
  std::string path = dir.file("out.eps");
  mode_t previous = umask(027);
  OutputFile file(path);
  bool written = file.checkWritable() && file.write("document\n");
  umask(previous);
  ASSERT_TRUE(written) << file.error();
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, static_cast<mode_t>(0640));
}

// A file the user may not write, regular or not, is refused before any
// work, and kept.
TEST(OutputFileTest, RefusesAFileTheUserMayNotWrite) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to another user";
  for (bool fifo : {false, true}) {
    SCOPED_TRACE(fifo ? "named pipe" : "regular file");
    TempDir dir;
    std::string path = dir.file("theirs.eps");
    if (fifo) {
      ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    } else {
      writeFile(path, "theirs\n");
    }
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    EXPECT_TRUE(succeedsAsNobody([&path] {
      OutputFile file(path);
      return !file.checkWritable() &&
             file.error() == kPrefix + path + ": Permission denied";
    }));
    if (!fifo) {
      EXPECT_EQ(readFile(path), "theirs\n");
    }
  }
}

}  // namespace

#include "ghostscript.h"

#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "descriptor_io.h"
#include "termination_signals.h"

extern char** environ;

namespace {

// An open descriptor, closed when the object goes.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// A file in memory, for one of the child's standard streams: Ghostscript
// reads and writes it as it would a file, and nothing of it outlives the
// two processes.
Descriptor memoryFile(const char* name) {
  return Descriptor(memfd_create(name, MFD_CLOEXEC));
}

// Whether path names a regular file this process may run.
bool isExecutableFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         access(path.c_str(), X_OK) == 0;
}

// The directories to search: PATH, or the system's default when unset.
std::string searchPath() {
  if (const char* path = std::getenv("PATH")) return path;
  char standard[256] = "";
  confstr(_CS_PATH, standard, sizeof standard);
  return standard;
}

// The arguments of one rendering: no banner, prompt or pause, the file
// system closed to the document, the document's own prints kept off the
// rendered bytes, which go to standard output; the document is read from
// standard input.
std::vector<std::string> arguments(const std::vector<std::string>& device) {
  std::vector<std::string> argv = {
      "gs",        "-q",         "-dSAFER",         "-dBATCH",
      "-dNOPAUSE", "-dNOPROMPT", "-sstdout=%stderr"};
  argv.insert(argv.end(), device.begin(), device.end());
  argv.insert(argv.end(), {"-sOutputFile=-", "-"});
  return argv;
}

// A directory only this process may enter, under $TMPDIR or /tmp, for
// Ghostscript's scratch files, which it leaves behind when it is killed.
// Empty, with errno set, when it cannot be made.
std::string makeScratchDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base && *base ? base : "/tmp") + "/tallyplot-gs-XXXXXX";
  return mkdtemp(pattern.data()) != nullptr ? pattern : "";
}

// This process's environment for Ghostscript, with TMPDIR naming its
// scratch directory, and without GS_OPTIONS, whose options (-dNOSAFER among
// them) would come on top of the ones given here.
std::vector<std::string> childEnvironment(const std::string& scratch) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string variable = *entry;
    if (variable.rfind("GS_OPTIONS=", 0) == 0 ||
        variable.rfind("TMPDIR=", 0) == 0) {
      continue;
    }
    env.push_back(variable);
  }
  env.push_back("TMPDIR=" + scratch);
  return env;
}

// Null-terminated pointers to strings that outlive them.
std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// Starts program with its standard streams on input, output and messages.
// It keeps this thread's signal mask, in which the termination signals are
// blocked: only the run stops it, and only after it has stopped does the
// run die of the signal. Returns 0 or the error number.
int spawn(const std::string& program, std::vector<std::string> argv,
          std::vector<std::string> env, const int streams[3], pid_t& pid) {
  posix_spawn_file_actions_t actions;
  int error = posix_spawn_file_actions_init(&actions);
  if (error != 0) return error;
  for (int stream = 0; stream < 3 && error == 0; ++stream) {
    error = posix_spawn_file_actions_adddup2(&actions, streams[stream], stream);
  }
  if (error == 0) {
    error = posix_spawn(&pid, program.c_str(), &actions, nullptr,
                        pointers(argv).data(), pointers(env).data());
  }
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

// Starts Ghostscript in a scratch directory of its own, with its standard
// streams on streams; both are recorded in guard, so that from here on a
// signal stops it and removes the directory. Returns its pid, or 0 with
// reason set.
pid_t startInScratch(const std::string& program,
                     const std::vector<std::string>& device,
                     const int streams[3], ChildProcessGuard& guard,
                     std::string& reason) {
  TerminationSignalsHeld held;
  const std::string scratch = makeScratchDirectory();
  if (scratch.empty()) {
    reason = std::string("cannot make a scratch directory for Ghostscript: ") +
             strerror(errno);
    return 0;
  }
  guard.recordDirectory(scratch);
  pid_t pid = 0;
  const int error = spawn(program, arguments(device), childEnvironment(scratch),
                          streams, pid);
  if (error != 0) {
    reason = "cannot run " + program + ": " + strerror(error);
    return 0;
  }
  guard.recordChild(pid);
  return pid;
}

// Waits until the child has ended, leaving it for ChildProcessGuard to
// reap. False, with errno set, when it cannot.
bool waitUntilEnded(pid_t pid) {
  siginfo_t info;
  while (waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// The first line of text that holds more than white space, without the
// white space around it.
std::string firstLine(const std::string& text) {
  const char* blank = " \t\r\n";
  const size_t start = text.find_first_not_of(blank);
  if (start == std::string::npos) return "";
  const size_t end = text.find_first_of("\r\n", start);
  const std::string line = text.substr(start, end - start);
  return line.substr(0, line.find_last_not_of(blank) + 1);
}

// Why a rendering failed: Ghostscript's first line of messages, or else
// how it ended.
std::string failureOf(int status, const std::string& messages) {
  const std::string line = firstLine(messages);
  if (!line.empty()) return line;
  if (WIFSIGNALED(status)) {
    return "ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
           strsignal(WTERMSIG(status)) + ")";
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    return "exit status " + std::to_string(WEXITSTATUS(status));
  }
  return "it wrote nothing";
}

}  // namespace

std::string findGhostscript() {
  const std::string dirs = searchPath();
  size_t start = 0;
  for (;;) {
    const size_t colon = dirs.find(':', start);
    const std::string dir = dirs.substr(start, colon - start);
    const std::string candidate = (dir.empty() ? "." : dir) + "/gs";
    std::error_code ignored;
    if (isExecutableFile(candidate)) {
      return std::filesystem::absolute(candidate, ignored).string();
    }
    if (colon == std::string::npos) return "";
    start = colon + 1;
  }
}

bool renderWithGhostscript(const std::string& program,
                           const std::vector<std::string>& device,
                           const std::string& document, std::string& rendered,
                           std::string& reason) {
  Descriptor input = memoryFile("tallyplot-document");
  Descriptor output = memoryFile("tallyplot-rendered");
  Descriptor messages = memoryFile("tallyplot-gs-messages");
  if (input.get() < 0 || output.get() < 0 || messages.get() < 0 ||
      !writeAll(input.get(), document) ||
      lseek(input.get(), 0, SEEK_SET) != 0) {
    reason = strerror(errno);
    return false;
  }
  // Started with SIGCHLD ignored, the run would have the child reaped
  // behind its back, and its exit status lost.
  signal(SIGCHLD, SIG_DFL);
  ChildProcessGuard guard;
  const int streams[3] = {input.get(), output.get(), messages.get()};
  const pid_t pid = startInScratch(program, device, streams, guard, reason);
  if (pid == 0) return false;
  if (!waitUntilEnded(pid)) {
    reason = std::string("cannot wait for Ghostscript: ") + strerror(errno);
    return false;
  }
  const int status = guard.end();
  std::string said;
  if (!readWhole(output.get(), rendered) || !readWhole(messages.get(), said)) {
    reason = strerror(errno);
    return false;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && !rendered.empty()) {
    return true;
  }
  reason = "Ghostscript failed: " + failureOf(status, said);
  return false;
}

#include "defaults_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

// Larger copies are refused: the client library reads the copy once per
// connection, and a pipe that never ends would fill the memory.
constexpr size_t kLargestCopy = 256u << 20;

// Includes nested deeper than this are skipped, as the library skips them.
constexpr int kDeepestInclude = 64;

// More files read than this, the same file counted each time, is taken for
// includes that multiply (two of a file in each of a chain of files is
// 2^n reads): far beyond an honest configuration, such as a directory of a
// few hundred files.
constexpr int kMostFilesRead = 4096;

// The copy being made, the first reason it cannot be, the files being read
// (an include of one of them would never end), and how many were read.
struct Copy {
  std::string text;
  std::string error;
  std::vector<std::pair<dev_t, ino_t>> open;
  int filesRead = 0;
};

bool fail(Copy& copy, const std::string& path, const std::string& reason) {
  if (copy.error.empty())
    copy.error = path.empty() ? reason : path + ": " + reason;
  return false;
}

// Reads all of the file at path into text; false with the reason in copy.
// The top file's own path is left out of the reason: the diagnostic names
// it already.
bool readWhole(const std::string& path, bool top, std::string& text,
               Copy& copy) {
  const std::string shown = top ? "" : path;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(copy, shown, std::strerror(errno));
  struct stat info;
  bool ok = fstat(fd, &info) == 0;
  const std::pair<dev_t, ino_t> file(info.st_dev, info.st_ino);
  if (!ok) {
    fail(copy, shown, std::strerror(errno));
  } else if (S_ISDIR(info.st_mode)) {
    ok = fail(copy, shown, std::strerror(EISDIR));
  } else if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode)) {
    ok = fail(copy, shown, "neither a regular file nor a pipe");
  } else if (std::find(copy.open.begin(), copy.open.end(), file) !=
             copy.open.end()) {
    ok = fail(copy, shown, "included within itself");
  } else if (++copy.filesRead > kMostFilesRead) {
    ok = fail(copy, shown,
              "more than " + std::to_string(kMostFilesRead) + " files read");
  }
  if (ok) copy.open.push_back(file);
  char buffer[65536];
  while (ok) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = fail(copy, shown, std::strerror(errno));
    } else if (text.size() + copy.text.size() + n > kLargestCopy) {
      ok = fail(copy, shown, "larger than 256 MiB");
    } else {
      text.append(buffer, static_cast<size_t>(n));
    }
  }
  close(fd);
  return ok;
}

bool copyFile(const std::string& path, bool top, int depth, Copy& copy);
bool copyLines(const std::string& text, int depth, Copy& copy);

// The .cnf files of dir, in the order the library reads them.
bool copyDirectory(const std::string& dir, int depth, Copy& copy) {
  DIR* entries = opendir(dir.c_str());
  if (entries == nullptr) return fail(copy, dir, std::strerror(errno));
  bool ok = true;
  while (dirent* entry = readdir(entries)) {
    const std::string name = entry->d_name;
    if (ok && name.size() > 4 &&
        name.compare(name.size() - 4, 4, ".cnf") == 0) {
      ok = copyFile(dir + "/" + name, false, depth, copy);
    }
  }
  closedir(entries);
  return ok;
}

// A line that names another file to read: "!include path" or
// "!includedir dir", the word ending at the first space, the path at the
// end of the line's white space.
bool copyDirective(const std::string& line, int depth, Copy& copy) {
  const size_t space = line.find(' ');
  if (space == std::string::npos) return true;
  const std::string word = line.substr(1, space - 1);
  std::string target = line.substr(space + 1);
  while (!target.empty() &&
         std::isspace(static_cast<unsigned char>(target.back()))) {
    target.pop_back();
  }
  if (word == "include") return copyFile(target, false, depth + 1, copy);
  if (word == "includedir") return copyDirectory(target, depth + 1, copy);
  return true;
}

// Appends the lines of text, a file's, to the copy, its includes in their
// place. After an include the file's own group is named again, for the
// library reads an included file in groups of its own; and a setting
// before any group ends the file there, as it ends the library's reading.
bool copyLines(const std::string& text, int depth, Copy& copy) {
  std::string group;  // the line that opened the current group
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(start, end - start);
    start = end;
    if (line.back() != '\n') line += '\n';
    size_t first = 0;
    while (first < line.size() &&
           std::isspace(static_cast<unsigned char>(line[first]))) {
      ++first;
    }
    const char lead = first < line.size() ? line[first] : '\0';
    if (lead == '!') {
      if (!copyDirective(line.substr(first), depth, copy)) return false;
      copy.text += group;
      continue;
    }
    if (lead == '[') {
      if (line.find(']', first) == std::string::npos) break;  // as the library
      group = line;
    }
    const bool setting = lead != '\0' && lead != '#' && lead != ';' &&
                         lead != '[' && lead != '"' && lead != '\'';
    if (setting && group.empty()) break;
    copy.text += line;
  }
  return true;
}

// Appends the file at path to the copy; one already being read, which
// would include itself for ever, is refused.
bool copyFile(const std::string& path, bool top, int depth, Copy& copy) {
  if (depth >= kDeepestInclude) return true;
  std::string text;
  if (!readWhole(path, top, text, copy)) return false;
  const bool copied = copyLines(text, depth, copy);
  copy.open.pop_back();
  return copied;
}

}  // namespace

std::string copyDefaultsFile(const std::string& path, std::string& error) {
  Copy copy;
  if (!copyFile(path, true, 0, copy)) {
    error = copy.error;
    return "";
  }
  const int fd = memfd_create("tallyplot-options", MFD_CLOEXEC);
  if (fd < 0) {
    error = std::string("no room for a copy: ") + std::strerror(errno);
    return "";
  }
  size_t written = 0;
  while (written < copy.text.size()) {
    const ssize_t n =
        write(fd, copy.text.data() + written, copy.text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = std::string("no room for a copy: ") + std::strerror(errno);
      close(fd);
      return "";
    }
    written += static_cast<size_t>(n);
  }
  // Open for the rest of the run; the library opens it anew by this name.
  return "/proc/self/fd/" + std::to_string(fd);
}

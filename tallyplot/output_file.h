// The document's destination: checked before any database work and written
// whole once the document is complete, so a failed run leaves the path as
// it was.
#ifndef TALLYPLOT_OUTPUT_FILE_H_
#define TALLYPLOT_OUTPUT_FILE_H_

#include <string>

// The diagnostic of a document that cannot reach path:
// "Failed to write output file: <path>: <reason>".
std::string outputFileError(const std::string& path, const std::string& reason);

// Writes a finished document to a path without ever leaving it half
// written: regular files are replaced atomically, anything else (a
// terminal, a pipe, a device) is written in place, and so is a writable
// file that its directory does not let this user replace (closed to new
// files, or sticky and the file someone else's). A termination signal
// during the write leaves no temporary file and no half-written file.
class OutputFile {
 public:
  explicit OutputFile(std::string path);

  // Whether the path can be written: its directory exists and accepts a
  // new file, or it names an existing non-regular file. Leaves nothing
  // behind. On false, error() says why.
  bool checkWritable();

  // Writes content to the path. On false, error() says why and the path
  // is as it was (for a regular file) and no temporary file remains; a
  // regular file written in place keeps its old bytes when the disk is
  // full, except on file systems that cannot reserve space.
  bool write(const std::string& content);

  // "Failed to write output file: <path>: <reason>".
  const std::string& error() const { return error_; }

 private:
  bool fail(int errnum);
  bool writeInPlace(const std::string& target, const std::string& content);
  bool replaceAtomically(const std::string& target, const std::string& content);

  std::string path_;
  std::string error_;
};

#endif  // TALLYPLOT_OUTPUT_FILE_H_

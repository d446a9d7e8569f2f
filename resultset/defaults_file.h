// The option file a run reads, read once: every connection of the run,
// whenever it opens, gets exactly the settings the first one got.
#ifndef TALLYPLOT_RESULTSET_DEFAULTS_FILE_H_
#define TALLYPLOT_RESULTSET_DEFAULTS_FILE_H_

#include <string>

// Reads the option file at path, and the files its !include and
// !includedir lines name, into a private copy in memory with those lines
// replaced by what they include, and returns a path that opens the copy.
// The client library reads the copy as it would have read the files: the
// same settings in the same groups, in the same order. Returns "" with the
// reason in error when path or a file it includes cannot be read (the
// library would skip an included file silently, and the settings it holds
// with it), or is neither a regular file nor a pipe (a device never ends).
std::string copyDefaultsFile(const std::string& path, std::string& error);

#endif  // TALLYPLOT_RESULTSET_DEFAULTS_FILE_H_

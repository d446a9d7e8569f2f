// Settings of a MySQL option file, read the way the client library reads
// its own, for settings the library does not know.
#ifndef TALLYPLOT_RESULTSET_OPTION_FILE_H_
#define TALLYPLOT_RESULTSET_OPTION_FILE_H_

#include <string>
#include <vector>

// The option file's group for this program's own settings, read besides
// the client library's groups.
constexpr char kProgramGroup[] = "tallyplot";

// The value the last line setting key (dashes and underscores alike) gives
// in one of groups of the option file at path, without the spaces around
// it and one pair of quotes. Empty when no line sets it, or the file cannot
// be read, or a setting stands before the first group (the library then
// ignores the file). !include lines are not followed.
std::string optionFileValue(const std::string& path,
                            const std::vector<std::string>& groups,
                            const std::string& key);

// Whether the last of the lines of groups that turn TLS on or off, in any
// client's spelling (MySQL's ssl-mode=DISABLED, MariaDB's ssl=0, skip-ssl,
// disable-ssl), turns it off.
bool optionFileTurnsTlsOff(const std::string& path,
                           const std::vector<std::string>& groups);

#endif  // TALLYPLOT_RESULTSET_OPTION_FILE_H_

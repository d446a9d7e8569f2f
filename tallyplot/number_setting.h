// A whole-number setting of the run, given by an environment variable or,
// when that is unset or empty, by a line of the option file's [tallyplot]
// group; refused, before any work, unless it lies in its range.
#ifndef TALLYPLOT_NUMBER_SETTING_H_
#define TALLYPLOT_NUMBER_SETTING_H_

#include <string>

// One such setting: its two names, its range and its value when neither
// names one.
struct NumberSetting {
  const char* variable;  // in the environment, e.g. TALLYPLOT_JOBS
  const char* option;    // in the option file's [tallyplot] group, e.g. jobs
  int lowest;
  int highest;
  int fallback;
};

// The value that fromEnvironment (null or empty: unset) or else fromFile
// (empty: no such line) gives setting, or its fallback. On a value that is
// not a whole number in range, returns the fallback and sets error to the
// diagnostic that names where the value came from.
int numberSetting(const NumberSetting& setting, const char* fromEnvironment,
                  const std::string& fromFile, std::string& error);

// The same, from this process's environment and the option file read.
int readNumberSetting(const NumberSetting& setting, std::string& error);

#endif  // TALLYPLOT_NUMBER_SETTING_H_

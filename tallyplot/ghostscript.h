// Ghostscript, the program, run as a child process to render a finished
// PostScript document into another format.
#ifndef TALLYPLOT_GHOSTSCRIPT_H_
#define TALLYPLOT_GHOSTSCRIPT_H_

#include <string>
#include <vector>

// The executable gs that PATH names first (an empty entry is the working
// directory), as a path to run later; empty when there is none.
std::string findGhostscript();

// Renders document with the Ghostscript at program and the device
// arguments (-sDEVICE=... and its settings) into rendered, which on
// success holds everything Ghostscript wrote. Ghostscript runs without
// interaction, with -dSAFER, and with a scratch directory of its own that
// is removed afterwards, also when a termination signal stops the run. On
// false, reason says what failed and rendered is unspecified.
bool renderWithGhostscript(const std::string& program,
                           const std::vector<std::string>& device,
                           const std::string& document, std::string& rendered,
                           std::string& reason);

#endif  // TALLYPLOT_GHOSTSCRIPT_H_

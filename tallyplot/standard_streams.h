// The standard streams a run was started without, and the stand-ins it
// opens in their place.
#ifndef TALLYPLOT_STANDARD_STREAMS_H_
#define TALLYPLOT_STANDARD_STREAMS_H_

#include <string>

// Opens /dev/null on each of the standard descriptors that is closed, so
// that no file or socket opened later takes its number, and diagnostics
// written to it never reach the output file or a server connection.
void keepStandardStreams();

// Whether path names one of those stand-ins (/dev/stdout, /dev/fd/1,
// /proc/self/fd/1, or a link leading there, when standard output was
// closed): never the user's output, for the stream they name is closed.
bool namesStandIn(const std::string& path);

#endif  // TALLYPLOT_STANDARD_STREAMS_H_

// The standard streams a run was started without, and the stand-ins it
// opens in their place.
#ifndef TALLYPLOT_STANDARD_STREAMS_H_
#define TALLYPLOT_STANDARD_STREAMS_H_

#include <string>

// Opens a stand-in on each of the standard descriptors that is closed, so
// that no file or socket opened later takes its number, and diagnostics
// written to it never reach the output file or a server connection. Each
// stand-in is a file of its own, in memory, that nothing else opens.
void keepStandardStreams();

// Whether the standard descriptor fd was closed when the run started.
bool isStandIn(int fd);

// Whether path leads to one of those stand-ins, by whatever name
// (/dev/stdout, /dev/fd/1, /proc/self/fd/1, /proc/thread-self/fd/1, a link
// leading there, ...): never the user's output, for the stream it names
// is closed.
bool namesStandIn(const std::string& path);

#endif  // TALLYPLOT_STANDARD_STREAMS_H_

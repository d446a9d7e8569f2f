// Whole-content reads and writes on file descriptors, retrying the short
// and interrupted calls that the system may give.
#ifndef TALLYPLOT_DESCRIPTOR_IO_H_
#define TALLYPLOT_DESCRIPTOR_IO_H_

#include <string>

// Writes all of content to fd at its offset. On false, errno says why.
bool writeAll(int fd, const std::string& content);

// Reads the whole file open at fd, from its first byte whatever the
// descriptor's offset, into content. On false, errno says why.
bool readWhole(int fd, std::string& content);

#endif  // TALLYPLOT_DESCRIPTOR_IO_H_

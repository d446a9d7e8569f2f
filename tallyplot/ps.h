// The fixed parts of the document: prologue, end of the chart page, table
// frame with its caption column, and trailer.
#ifndef TALLYPLOT_PS_H_
#define TALLYPLOT_PS_H_

#include <ostream>
#include <string>
#include <vector>

// The prologue text, written at the head of every document.
extern const char kPrologue[];

void printFile(std::ostream& out);
// Re-encodes the prologue's fonts with ISOLatin1Encoding under their own
// names, for texts beyond ASCII; the standard encoding would draw their
// bytes as other glyphs. '-' stays a hyphen, not ISOLatin1Encoding's minus.
void printLatin1Fonts(std::ostream& out);
void printFooter(std::ostream& out);
void printTable(std::ostream& out, int numpoints,
                std::vector<std::string> sumnames);
void printTableFooter(std::ostream& out);

#endif  // TALLYPLOT_PS_H_

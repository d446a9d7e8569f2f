// Texts from the database as the document's fonts can draw them: in
// Latin-1, the one encoding beyond ASCII that every PostScript interpreter
// has for its standard fonts.
#ifndef TALLYPLOT_LATIN1_H_
#define TALLYPLOT_LATIN1_H_

#include <string>

// text, which arrived in UTF-8, in Latin-1: characters of ISO 8859-1 as
// their byte, anything else (other characters, the control codes U+0080 to
// U+009F, invalid sequences, a zero byte) as '?'. Other ASCII comes through
// unchanged.
std::string toLatin1(const std::string& text);

// Whether text holds a byte of 0x80 or above.
bool hasHighBytes(const std::string& text);

#endif  // TALLYPLOT_LATIN1_H_

// Checks on the texts of a sums row before they reach a query or the
// document.
#ifndef TALLYPLOT_SUMS_CHECKS_H_
#define TALLYPLOT_SUMS_CHECKS_H_

#include <string>

// Whether symbol names one of the glyph procedures of the prologue.
bool isGlyphName(const std::string& symbol);

// Whether a colour component is a plain decimal number (surrounding spaces
// and tabs allowed; the empty text is not a number) that a PostScript
// interpreter can hold: at most 255 characters, magnitude at most 3.4e38.
bool isColourComponent(const std::string& component);

// Whether an outputfield value can be spliced into a query as part of a
// column name: ASCII letters, digits, '_', '$' and bytes from 0x80 only.
bool isSafeColumnName(const std::string& outputfield);

#endif  // TALLYPLOT_SUMS_CHECKS_H_

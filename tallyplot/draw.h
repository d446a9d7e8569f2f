// Writers for the per-series body commands of the document, and the text
// helpers every body writer shares.
#ifndef TALLYPLOT_DRAW_H_
#define TALLYPLOT_DRAW_H_

#include <ostream>
#include <string>
#include <vector>

// A value as the output stream writes it by default (%g, precision 6).
std::string formatNumber(double value);

// text made safe inside PostScript string parentheses: each backslash,
// '(' and ')' is preceded by a backslash; nothing else changes.
std::string escapePsString(const std::string& text);

// One chart series: colour, glyph and its points from x index 0.
void drawLine(std::ostream& out, std::string color, std::string glyph,
              std::vector<double> data);

// One row of the summary table; row 0 is the top row.
void drawRow(std::ostream& out, int row, std::vector<double> data);

#endif  // TALLYPLOT_DRAW_H_

#include "draw.h"

#include <sstream>

std::string formatNumber(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

std::string escapePsString(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    if (c == '\\' || c == '(' || c == ')') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

void drawLine(std::ostream& out, std::string color, std::string glyph,
              std::vector<double> data) {
  out << color << " setrgbcolor (" << escapePsString(glyph) << ") 0 [ ";
  for (double value : data) out << value << " ";
  out << " ] drawLine\n\n";
}

void drawRow(std::ostream& out, int row, std::vector<double> data) {
  out << "0.5 inch TEXTCELL add 7 inch " << row + 1
      << " FONTSIZE mul sub NUMBERCELL\n[ ";
  for (double value : data) out << "(" << value << ") ";
  out << "]\ntableRow\n\n";
}

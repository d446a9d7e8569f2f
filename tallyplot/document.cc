#include "document.h"

#include <string>

#include "draw.h"
#include "latin1.h"
#include "line.h"
#include "ps.h"

namespace {

// Page 2: the table frame with its captions (the fixed series carry their
// own), then one row per series.
void printSummaryTable(std::ostream& out,
                       const std::vector<ChartSeries>& series) {
  std::vector<std::string> sumnames;
  for (size_t n = kFixedSeriesCount; n < series.size(); ++n) {
    sumnames.push_back(series[n].line.name);
  }
  int numpoints = static_cast<int>(series.front().line.points.size());
  printTable(out, numpoints, sumnames);
  for (size_t n = 0; n < series.size(); ++n) {
    drawRow(out, static_cast<int>(n), series[n].line.points);
  }
  printTableFooter(out);
}

}  // namespace

void writeDocument(std::ostream& out, std::vector<ChartSeries> series) {
  printFile(out);
  bool latin1 = false;
  for (ChartSeries& s : series) {
    s.line.name = toLatin1(s.line.name);
    latin1 = latin1 || hasHighBytes(s.line.name);
  }
  // Only when a text needs it: every other document stays as it was.
  if (latin1) printLatin1Fonts(out);
  std::vector<Line> lines;
  for (const ChartSeries& s : series) {
    drawLine(out, s.color, s.glyph, s.line.points);
    lines.push_back(s.line);
  }
  // Labels are painted in black over the coloured lines.
  out << "0 0 0 setrgbcolor\n";
  writeLabels(out, lines);
  printFooter(out);
  printSummaryTable(out, series);
}

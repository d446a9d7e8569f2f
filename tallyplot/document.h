// The whole document from the chart series, whichever query plan read them.
#ifndef TALLYPLOT_DOCUMENT_H_
#define TALLYPLOT_DOCUMENT_H_

#include <ostream>
#include <string>
#include <vector>

#include "series.h"

// Writes the prologue, page 1 (one line per series, the labels, the grid)
// and page 2 (the summary table, one row per series in the given order).
// The series' names arrived in UTF-8 and are drawn in Latin-1.
void writeDocument(std::ostream& out, std::vector<ChartSeries> series);

#endif  // TALLYPLOT_DOCUMENT_H_

// The chart series: the fifteen fixed ones, those listed in sums, and the
// checks every series must pass before it is drawn, whichever query plan
// read its values.
#ifndef TALLYPLOT_SERIES_H_
#define TALLYPLOT_SERIES_H_

#include <string>
#include <vector>

#include "line.h"
#include "resultset.h"

// One of the fifteen series every chart has, with the caption of its row
// in the summary table (worded differently from its label).
struct FixedSeries {
  const char* name;
  const char* column;
  const char* glyph;
  const char* color;
  const char* caption;
};

constexpr int kFixedSeriesCount = 15;
extern const FixedSeries kFixedSeries[kFixedSeriesCount];

// One series ready to draw: its points and label, its colour and glyph.
struct ChartSeries {
  Line line;
  std::string color;
  std::string glyph;
};

// The texts of one selected sums row that make a series.
struct SumsRow {
  std::string name;
  std::string outputfield;
  std::string red;
  std::string green;
  std::string blue;
  std::string symbol;

  // The data-table column the row's series sums.
  std::string column() const { return outputfield + "_xcd"; }
  // Its colour as the operands of setrgbcolor.
  std::string color() const { return red + " " + green + " " + blue; }
};

// The statement that selects the extra series.
extern const char kSumsQuery[];

// A column of the sums table and the text of a SumsRow it fills.
struct SumsField {
  const char* name;
  std::string SumsRow::*text;
};

// The columns that make a series' statement, looked up before it is sent,
// and those of its style, looked up after it, each in the order they are
// looked up: a run reports the first one sums lacks.
extern const SumsField kSumsQueryFields[2];
extern const SumsField kSumsStyleFields[4];

// The first of fields that the sums result lacks, or null.
template <size_t N>
const char* firstMissingField(const ResultSet& sums,
                              const SumsField (&fields)[N]) {
  for (const SumsField& field : fields) {
    if (!sums.hasField(field.name)) return field.name;
  }
  return nullptr;
}

// Reads fields of the current row of sums into row; a column sums lacks
// ends the process with its diagnostic.
template <size_t N>
void readSumsFields(const ResultSet& sums, const SumsField (&fields)[N],
                    SumsRow& row) {
  for (const SumsField& field : fields) {
    row.*field.text = static_cast<std::string>(sums.get(field.name));
  }
}

// Reads the name and outputfield of the current row of sums into row, the
// outputfield as the server reads it in conn's statements.
void readSeriesColumn(const ResultSet& sums, MYSQL* conn, SumsRow& row);

// Percentage of a group's rows that did not exceed a resource whose flags
// sum to sum, for groups of order rows.
double successPercentage(double sum, int order);

// The diagnostic that ends the run when the first selectednum group counts
// no idx at all, found by query: every percentage would divide by zero and
// the document would carry inf and nan, which no PostScript interpreter
// accepts.
std::string zeroGroupSize(const std::string& query);

// The empty text, or the diagnostic that ends the run when the row's
// outputfield cannot be spliced into a query.
std::string invalidOutputField(const SumsRow& row);

// The empty text, or the diagnostic that ends the run when the row's
// colour or glyph cannot be written into the document.
std::string invalidStyle(const SumsRow& row);

// The empty text, or the diagnostic that ends the run when a point of
// line, drawn with glyph, lies where PostScript interpreters cannot draw it
// (too far up or down, or, for a circle, too far right).
std::string undrawableValue(const Line& line, const std::string& glyph);

#endif  // TALLYPLOT_SERIES_H_

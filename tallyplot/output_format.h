// The format a run writes, chosen by the output name's extension the way
// chart tools choose it.
#ifndef TALLYPLOT_OUTPUT_FORMAT_H_
#define TALLYPLOT_OUTPUT_FORMAT_H_

#include <string>

// What the output path receives.
enum class OutputFormat {
  kEps,  // the document as it is built
  kPdf,  // both pages as a PDF
  kPng,  // the chart page as a PNG picture
};

// The format the last component of path names by its extension, in any
// case: .pdf and .png; anything else, no extension included, is EPS.
OutputFormat outputFormatOf(const std::string& path);

// The format's name as users write it: "EPS", "PDF" or "PNG".
const char* outputFormatName(OutputFormat format);

#endif  // TALLYPLOT_OUTPUT_FORMAT_H_

// Tests of the format an output name chooses.
#include "output_format.h"

#include <gtest/gtest.h>

namespace {

TEST(OutputFormatTest, TheLastComponentsExtensionInAnyCase) {
  const struct {
    const char* path;
    OutputFormat format;
  } cases[] = {
      {"chart.pdf", OutputFormat::kPdf},
      {"chart.PDF", OutputFormat::kPdf},
      {"/srv/charts/2026.png", OutputFormat::kPng},
      {"chart.pNg", OutputFormat::kPng},
      {"chart.png.eps", OutputFormat::kEps},
      {"chart.pdfx", OutputFormat::kEps},
      {"chartpdf", OutputFormat::kEps},
      {"dir.pdf/chart", OutputFormat::kEps},
      {"/dev/stdout", OutputFormat::kEps},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(outputFormatOf(c.path), c.format) << c.path;
  }
}

}  // namespace

// Tests of the fixed document parts: the prologue byte for byte, the table
// frame with its caption column, and a whole document from the writers.
#include "ps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "draw.h"
#include "line.h"
#include "test_support.h"

namespace {

using test_support::splitLines;

// The prologue's size and checksums were derived once from the document
// format description, independently of this code: its block of 317 lines
// with the four-space indentation removed and each "\t" turned into a tab
// character, joined with line feeds. With that text in prologue.txt:
//   wc -l -c prologue.txt   -> 317 7947
//   FNV-1a 64 over its bytes (python3 loop) -> 0x08631cfa8b67e595
constexpr size_t kPrologueLines = 317;
constexpr size_t kPrologueBytes = 7947;
constexpr uint64_t kPrologueFnv1a = 0x08631cfa8b67e595ULL;

const std::string kPercentLine(80, '%');

uint64_t fnv1a64(const std::string& bytes) {
  uint64_t hash = 0xcbf29ce484222325ULL;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

std::string prologue() {
  std::ostringstream out;
  printFile(out);
  return out.str();
}

TEST(PrologueTest, SizeLineCountAndChecksum) {
  const std::string text = prologue();
  EXPECT_EQ(text, std::string(kPrologue));
  EXPECT_EQ(text.size(), kPrologueBytes);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')),
            kPrologueLines);
  EXPECT_EQ(fnv1a64(text), kPrologueFnv1a);
}

TEST(PrintTableTest, WorkedExampleEightColumnsAlphaBeta) {
  std::ostringstream out;
  printTable(out, 8, {"Alpha", "Beta"});
  // Spelled out line by line as in the layout's worked example.
  const std::string expected = kPercentLine + "\n" + "%%% Table whatever " +
                               std::string(61, '%') + "\n" + kPercentLine +
                               "\n" +
                               "\n"
                               "0.5 inch TEXTCELL add %x\n"
                               " 7 inch 15 2 add FONTSIZE mul sub %y\n"
                               " 14 2 add %rows\n"
                               "8 %columns\n"
                               " NUMBERCELL %cellwidth\n"
                               "0 %header\n"
                               "() %title\n"
                               " drawTable\n"
                               "\n"
                               "0.5 inch %x\n"
                               "7 inch 15 2 add FONTSIZE mul sub %y\n"
                               "14 2 add %rows\n"
                               "1 %columns\n"
                               "TEXTCELL %cellwidth\n"
                               "0 %header\n"
                               "() %title\n"
                               "drawTable\n"
                               "\n"
                               "0.5 inch %x\n"
                               "7 inch 15 2 add FONTSIZE mul sub %y\n"
                               "0 %header\n"
                               "() %title\n"
                               "[ %columndata\n"
                               " (Any exceeded)\n"
                               " (Crew training)\n"
                               " (Crewtime)\n"
                               " (Upmass)\n"
                               " (Keepalive power)\n"
                               " (Stowage)\n"
                               " (Middecks)\n"
                               " (Energy)\n"
                               " (Crew-tended energy)\n"
                               " (Acoustics)\n"
                               " (C.T. acoustics)\n"
                               " (MTL)\n"
                               " (Crew-tended MTL)\n"
                               " (LTL)\n"
                               " (Crew-tended LTL)\n"
                               " (Alpha)\n"
                               " (Beta)\n"
                               "] tableColumn\n"
                               "\n";
  EXPECT_EQ(out.str(), expected);
  EXPECT_EQ(("%%% Table whatever " + std::string(61, '%')).size(), 80u);
}

// The names after the fixed captions, escaped, and the size of the table
// for any number of them.
TEST(PrintTableTest, SizesAndEscapedCaptions) {
  struct Case {
    const char* name;
    int numpoints;
    std::vector<std::string> names;
    std::string written;  // the caption lines after the fixed ones
  };
  const std::vector<Case> cases = {
      {"no extra names", 37, {}, ""},
      {"empty name, no columns", 0, {""}, " ()\n"},
      {"parentheses and a backslash",
       5,
       {"Power (W)", "a(", "C:\\x\\"},
       " (Power \\(W\\))\n (a\\()\n (C:\\\\x\\\\)\n"},
      {"other bytes kept",
       5,
       {"%no comment \t\xc3\xa9"},
       " (%no comment \t\xc3\xa9)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ostringstream out;
    printTable(out, c.numpoints, c.names);
    const std::string text = out.str();
    const std::string tail =
        " (Crew-tended LTL)\n" + c.written + "] tableColumn\n\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    const std::string n = std::to_string(c.names.size());
    EXPECT_NE(text.find("\n 14 " + n + " add %rows\n" +
                        std::to_string(c.numpoints) + " %columns\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n7 inch 15 " + n + " add FONTSIZE mul sub %y\n"),
              std::string::npos);
  }
}

// Builds a whole document from the writers and lets Ghostscript judge it,
// with names that would break the PostScript if written unescaped.
TEST(WritersDocumentTest, RendersTwoPagesWithAwkwardNames) {
  std::vector<Line> lines = {
      Line({100, 90, 80}, "Paren (open"),
      Line({100, 95, 60}, "Close) paren\\"),
      Line({99, 97, 96}, "Bal (anced)"),
  };
  std::ostringstream out;
  printFile(out);
  drawLine(out, "1 0 0", "circle", lines[0].points);
  drawLine(out, "0 1 0", "smallasterisk", lines[1].points);
  drawLine(out, "0 0 1", "triangle", lines[2].points);
  out << "0 0 0 setrgbcolor\n";
  writeLabels(out, lines);
  printFooter(out);
  printTable(out, 3, {"x) show (y", "\\", "(("});
  for (size_t n = 0; n < lines.size(); ++n) {
    drawRow(out, static_cast<int>(n), lines[n].points);
  }
  printTableFooter(out);

  const std::string text = out.str();
  EXPECT_NE(text.find("1 95 (Close\\) paren\\\\) drawLabel\n"),
            std::string::npos);
  EXPECT_NE(text.find("1 90 (Paren \\(open) drawLabel\n"), std::string::npos);
  test_support::TempDir dir;
  const std::string path = dir.file("writers.eps");
  test_support::writeFile(path, text);
  test_support::RenderResult render = test_support::renderWithGhostscript(path);
  EXPECT_TRUE(render.ok) << render.log;
  EXPECT_EQ(render.pages, 2) << render.log;
}

}  // namespace

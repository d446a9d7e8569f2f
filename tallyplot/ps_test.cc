// Tests of the fixed document parts: the prologue byte for byte, the end of
// the chart page, the table frame with its caption column and the trailer.
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
//   md5sum prologue.txt     -> 1e40a9a0fd9ed2f7c90d38652430c216
//   FNV-1a 64 over its bytes (python3 loop) -> 0x08631cfa8b67e595
constexpr size_t kPrologueLines = 317;
constexpr size_t kPrologueBytes = 7947;
constexpr uint64_t kPrologueFnv1a = 0x08631cfa8b67e595ULL;
const char kPrologueMd5[] = "1e40a9a0fd9ed2f7c90d38652430c216";

const std::string kPercentLine(80, '%');

uint64_t fnv1a64(const std::string& bytes) {
  uint64_t hash = 0xcbf29ce484222325ULL;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

int countOf(const std::vector<std::string>& lines, const std::string& line) {
  int count = 0;
  for (const std::string& l : lines) count += (l == line);
  return count;
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

TEST(PrologueTest, CharacterSet) {
  const std::string text = prologue();
  EXPECT_EQ(text.find('\\'), std::string::npos) << "no backslash";
  EXPECT_EQ(text.find('\r'), std::string::npos) << "no carriage return";
  EXPECT_EQ(std::count(text.begin(), text.end(), '\t'), 83);
  for (unsigned char c : text) {
    ASSERT_TRUE(c == '\n' || c == '\t' || (c >= 0x20 && c < 0x7f))
        << "unexpected byte " << static_cast<int>(c);
  }
}

TEST(PrologueTest, HeaderAndLastLine) {
  const std::vector<std::string> lines = splitLines(prologue());
  ASSERT_EQ(lines.size(), kPrologueLines);
  const std::vector<std::string> head = {
      "%!PS-Adobe-3.0 EPSF-3.0",
      "%%BoundingBox: 0 0 595 842",
      "%%Title: increment.ps",
      "%%Creator: Orvanel",
      "%%CreationDate: Wed Aug 11 15:54:27 2004",
      "%%EndComments",
      "64 dict begin",
      "/inch {72 mul} def",
      "/cm {28.34 mul} def",
      kPercentLine,
      "/TENHEIGHT 1.5 cm def ",
  };
  for (size_t i = 0; i < head.size(); ++i) {
    EXPECT_EQ(lines[i], head[i]) << "line " << i + 1;
  }
  EXPECT_EQ(lines[25], "<< /PageSize [11 inch 8.5 inch] >> setpagedevice");
  EXPECT_EQ(lines.back(),
            "%128 0 128 setrgbcolor (circle) 0 [ 100 96.5 88.3 74 66 50 32 "
            "13 ] drawLine");
}

// Lines whose trailing white space or tabs are easy to lose.
TEST(PrologueTest, TrickyLines) {
  const std::vector<std::string> lines = splitLines(prologue());
  struct Case {
    std::string line;
    int count;
  };
  const std::vector<Case> cases = {
      {"/TENHEIGHT 1.5 cm def ", 1},
      {"/TENHEIGHT 1.5 cm def", 0},
      {"\tNUMTICKS TICKWIDTH mul BUFFER 2 mul add 0 rlineto ", 1},
      {"\t/Times-Roman findfont 16 scalefont setfont ", 1},
      {"\tTITLE show\t", 1},
      {"\tTITLE show", 0},
      {"cellwidth columns mul 0 rlineto    ", 1},
      {"cellwidth columns mul 0 rlineto", 2},
      {"/YLABEL (Successful Groups (%)) def", 1},
      {"\tx pointX points 0 get pointY gsave newpath moveto glyph cvx exec "
       "grestore",
       1},
      {"    TICKWIDTH mul GRIDX add TICKWIDTH 2 div add", 1},
      {"\t\t", 0},
      {"", 16},
      {kPercentLine, 8},
      {"%%% Table functions " + std::string(60, '%'), 1},
      {"%%% End table functions " + std::string(56, '%'), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("line \"" + c.line + "\"");
    EXPECT_EQ(countOf(lines, c.line), c.count);
  }
  int trailingWhite = 0;
  int eighty = 0;
  for (const std::string& l : lines) {
    trailingWhite += !l.empty() && (l.back() == ' ' || l.back() == '\t');
    eighty += l.size() == 80;
  }
  EXPECT_EQ(trailingWhite, 5);
  EXPECT_EQ(eighty, 10);
}

TEST(FooterTest, PrintFooterEndsTheChartPage) {
  std::ostringstream out;
  printFooter(out);
  EXPECT_EQ(out.str(), "newpath\ndrawGrid\nshowpage\n");
}

TEST(FooterTest, PrintTableFooterIsTheTrailer) {
  std::ostringstream out;
  printTableFooter(out);
  EXPECT_EQ(out.str(), "\nshowpage\nend\n%%EOF\n");
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

TEST(PrintTableTest, SizesAndEscapedCaptions) {
  struct Case {
    const char* name;
    int numpoints;
    std::vector<std::string> names;
    std::vector<std::string> written;
  };
  const std::vector<Case> cases = {
      {"no extra names", 37, {}, {}},
      {"no columns", 0, {"One"}, {"One"}},
      {"negative column count written as is", -3, {}, {}},
      {"empty name", 5, {""}, {""}},
      {"balanced parentheses", 5, {"Power (W)"}, {"Power \\(W\\)"}},
      {"unbalanced parentheses",
       5,
       {"a(", ")b", "(("},
       {"a\\(", "\\)b", "\\(\\("}},
      {"backslash", 5, {"C:\\x\\"}, {"C:\\\\x\\\\"}},
      {"other bytes kept",
       5,
       {"%not a comment% \t\xc3\xa9"},
       {"%not a comment% \t\xc3\xa9"}},
      {"twelve names",
       2,
       {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"},
       {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ostringstream out;
    printTable(out, c.numpoints, c.names);
    EXPECT_EQ(out.str(), test_support::tableText(c.numpoints, c.written));
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

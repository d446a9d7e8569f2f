// Tests of the conversion of database texts, in UTF-8, to the document's
// Latin-1.
#include "latin1.h"

#include <gtest/gtest.h>

namespace {

TEST(ToLatin1Test, FromUtf8) {
  struct Case {
    std::string text;
    std::string latin1;
  };
  const Case cases[] = {
      {"plain (ASCII)", "plain (ASCII)"},
      {"R\xc3\xa9sum\xc3\xa9 \xc3\x9c\xc2\xa0", "R\xe9sum\xe9 \xdc\xa0"},
      {"\xe2\x82\xac \xe6\x97\xa5 \xf0\x9f\x98\x80", "? ? ?"},
      {"cut \xc3", "cut ?"},
      {"bad \xff\xc3(",
       "bad ?"
       "?("},
      {"\xc2\x80\xc2\x9f\xc2\xa0", "??\xa0"},
      // Each malformed form beside its well-formed neighbour: a character
      // beyond Latin-1 is one '?', each byte of a malformed one is one.
      {"\xc1\xbf|\xc2\xbf", "??|\xbf"},                 // overlong, 2 bytes
      {"\xe0\x9f\xbf|\xe0\xa0\x80", "???|?"},           // overlong, 3
      {"\xf0\x8f\xbf\xbf|\xf0\x90\x80\x80", "????|?"},  // overlong, 4
      {"\xed\xa0\x80|\xed\x9f\xbf", "???|?"},           // surrogate
      {"\xf4\x90\x80\x80|\xf4\x8f\xbf\xbf", "????|?"},  // > 10FFFF
      {"\xe2\x82|\xe2\x82\xac", "??|?"},                // cut short
      {std::string("Shown\0 hidden", 13), "Shown? hidden"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(toLatin1(c.text), c.latin1);
  }
}

}  // namespace

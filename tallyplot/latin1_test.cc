// Tests of the conversion of database texts to the document's Latin-1.
#include "latin1.h"

#include <gtest/gtest.h>

namespace {

TEST(ToLatin1Test, ByConnectionCharacterSet) {
  struct Case {
    const char* charset;
    std::string text;
    std::string latin1;
  };
  const Case cases[] = {
      {"utf8mb4", "plain (ASCII)", "plain (ASCII)"},
      {"utf8mb4", "R\xc3\xa9sum\xc3\xa9 \xc3\x9c\xc2\xa0",
       "R\xe9sum\xe9 \xdc\xa0"},
      {"utf8mb3", "\xe2\x82\xac \xe6\x97\xa5 \xf0\x9f\x98\x80", "? ? ?"},
      {"utf8", "cut \xc3", "cut ?"},
      {"utf8mb4", "bad \xff\xc3(",
       "bad ?"
       "?("},
      {"latin1", "R\xe9sum\xe9 \x80\x92", "R\xe9sum\xe9 ??"},
      {"utf8mb4", "\xc2\x80\xc2\x9f\xc2\xa0", "??\xa0"},
      // Each malformed form beside its well-formed neighbour: a character
      // beyond Latin-1 is one '?', each byte of a malformed one is one.
      {"utf8mb4", "\xc1\xbf|\xc2\xbf", "??|\xbf"},        // overlong, 2 bytes
      {"utf8mb4", "\xe0\x9f\xbf|\xe0\xa0\x80", "???|?"},  // overlong, 3
      {"utf8mb4", "\xf0\x8f\xbf\xbf|\xf0\x90\x80\x80",
       "????|?"},                                         // overlong, 4
      {"utf8mb4", "\xed\xa0\x80|\xed\x9f\xbf", "???|?"},  // surrogate
      {"utf8mb4", "\xf4\x90\x80\x80|\xf4\x8f\xbf\xbf", "????|?"},  // > 10FFFF
      {"utf8mb4", "\xe2\x82|\xe2\x82\xac", "??|?"},                // cut short
      {"koi8r", "\xf0\xd2\xc9 ok", "??? ok"},
      {"utf8mb4", std::string("Shown\0 hidden", 13), "Shown? hidden"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.charset) + ": " + c.text);
    EXPECT_EQ(toLatin1(c.text, c.charset), c.latin1);
  }
}

}  // namespace

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
      {"koi8r", "\xf0\xd2\xc9 ok", "??? ok"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.charset) + ": " + c.text);
    EXPECT_EQ(toLatin1(c.text, c.charset), c.latin1);
  }
}

}  // namespace

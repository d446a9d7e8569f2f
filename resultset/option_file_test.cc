// Unit tests of optionFileValue: the groups read, the spellings of a
// name, and the value as the client library would take it.
#include "option_file.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

TEST(OptionFileTest, ReadsAValueAsTheLibraryWould) {
  struct Case {
    const char* name;
    const char* text;
    const char* value;
  };
  const Case cases[] = {
      {"a group read", "[mysqld]\nkey-path=a\n[client]\nkey-path=b\n", "b"},
      {"a group not read", "[client]\nkey-path=b\n[mysqld]\nkey-path=a\n", "b"},
      {"underscores", "[tallyplot]\nkey_path = /k.pem \n", "/k.pem"},
      {"the last line", "[client]\nkey-path=a\n[tallyplot]\nkey-path=c\n", "c"},
      {"quotes", "[client]\nkey-path=\"/my keys/k.pem\"\n", "/my keys/k.pem"},
      {"a setting before any group", "key-path=a\n[client]\nkey-path=b\n", ""},
      {"comments and !include before the first group",
       "# keys\n!include other.cnf\n[client]\nkey-path=b\n", "b"},
  };
  test_support::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test_support::writeFile(dir.file("my.cnf"), c.text);
    EXPECT_EQ(optionFileValue(dir.file("my.cnf"), {"client", "tallyplot"},
                              "key-path"),
              c.value);
  }
  EXPECT_EQ(optionFileValue(dir.file("none.cnf"), {"client"}, "key-path"), "");
}

TEST(OptionFileTest, TlsTurnedOffInEveryClientsSpelling) {
  struct Case {
    const char* text;
    bool off;
  };
  const Case cases[] = {
      {"[client]\nport=1\n", false},
      {"[client]\nssl-mode=DISABLED\n", true},
      {"[tallyplot]\nssl_mode = disabled\n", true},
      {"[client]\nssl-mode=PREFERRED\n", false},
      {"[client]\nssl=0\n", true},
      {"[client]\nssl=OFF\n", true},
      {"[client]\nssl\n", false},
      {"[client]\nskip-ssl\n", true},
      {"[client]\ndisable-ssl=1\n", true},
      {"[client]\nskip-ssl\nssl=1\n", false},
      {"[mysqld]\nskip-ssl\n", false},
  };
  test_support::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    test_support::writeFile(dir.file("my.cnf"), c.text);
    EXPECT_EQ(
        optionFileTurnsTlsOff(dir.file("my.cnf"), {"client", "tallyplot"}),
        c.off);
  }
}

}  // namespace

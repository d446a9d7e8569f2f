// Tests of the private copy of an option file: the library must read from
// it the settings it would read from the files themselves.
#include "defaults_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "test_support.h"

namespace {

using test_support::readFile;
using test_support::TempDir;
using test_support::writeFile;

TEST(CopyDefaultsFileTest, IncludesInPlaceInTheirOwnGroups) {
  struct Case {
    const char* name;
    std::string top;       // $ stands for the directory of the files
    std::string included;  // the file inc.cnf, also in the directory inc
    std::string copy;
  };
  const Case cases[] = {
      {"the group named again after an include",
       "[client]\n!include $/inc.cnf\nport=1\n", "[other]\nx=2\n",
       "[client]\n[other]\nx=2\n[client]\nport=1\n"},
      {"an included file's setting before its first group ends it",
       "[client]\n!include $/inc.cnf\n", "x=2\n[client]\ny=3\n",
       "[client]\n[client]\n"},
      {"a setting before the first group ends the file",
       "# note\nport=1\n[client]\nuser=u\n", "", "# note\n"},
      {"a group without its bracket ends the file", "[client\nport=1\n", "",
       ""},
      {"only .cnf files of a directory", "!includedir $/inc\n",
       "[client]\nx=2", "[client]\nx=2\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::string top = c.top;
    for (size_t at; (at = top.find('$')) != std::string::npos;) {
      top.replace(at, 1, dir.path());
    }
    writeFile(dir.file("top.cnf"), top);
    writeFile(dir.file("inc.cnf"), c.included);
    ASSERT_EQ(mkdir(dir.file("inc").c_str(), 0755), 0);
    writeFile(dir.file("inc/inc.cnf"), c.included);
    writeFile(dir.file("inc/inc.txt"), "[client]\nignored=1\n");
    std::string error;
    const std::string copy = copyDefaultsFile(dir.file("top.cnf"), error);
    ASSERT_NE(copy, "") << error;
    EXPECT_EQ(readFile(copy), c.copy);
  }
}

}  // namespace

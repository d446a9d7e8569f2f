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
    const char* copy;      // null: not compared
    std::string error = "";
  };
  // f0.cnf to f10.cnf: each includes the next twice, 2047 files read.
  const std::string twice = "!include $/f0.cnf\n!include $/f0.cnf\n";
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
      {"only .cnf files of a directory", "!includedir $/inc\n", "[client]\nx=2",
       "[client]\nx=2\n"},
      {"a file included twice side by side",
       "!include $/inc.cnf\n!include $/inc.cnf\n", "[x]\ny=1\n",
       "[x]\ny=1\n[x]\ny=1\n"},
      {"a file that includes itself", "!include $/inc.cnf\n",
       "!include $/inc.cnf\n", nullptr, "$/inc.cnf: included within itself"},
      {"the top file included within itself", "!include $/inc.cnf\n",
       "!include $/top.cnf\n", nullptr, "$/top.cnf: included within itself"},
      {"4096 files read", twice + "!include $/inc.cnf\n", "", nullptr},
      {"4097 files read", twice + "!include $/inc.cnf\n!include $/inc.cnf\n",
       "", nullptr, "$/inc.cnf: more than 4096 files read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    auto inDir = [&dir](std::string text) {
      for (size_t at; (at = text.find('$')) != std::string::npos;) {
        text.replace(at, 1, dir.path());
      }
      return text;
    };
    writeFile(dir.file("top.cnf"), inDir(c.top));
    writeFile(dir.file("inc.cnf"), inDir(c.included));
    ASSERT_EQ(mkdir(dir.file("inc").c_str(), 0755), 0);
    writeFile(dir.file("inc/inc.cnf"), c.included);
    writeFile(dir.file("inc/inc.txt"), "[client]\nignored=1\n");
    for (int f = 0; f <= 10; ++f) {
      const std::string next = dir.file("f" + std::to_string(f + 1) + ".cnf");
      writeFile(dir.file("f" + std::to_string(f) + ".cnf"),
                f < 10 ? "!include " + next + "\n!include " + next + "\n" : "");
    }
    std::string error;
    const std::string copy = copyDefaultsFile(dir.file("top.cnf"), error);
    EXPECT_EQ(error, inDir(c.error));
    EXPECT_EQ(copy.empty(), !c.error.empty());
    if (c.copy != nullptr) {
      EXPECT_EQ(readFile(copy), c.copy);
    }
  }
}

}  // namespace

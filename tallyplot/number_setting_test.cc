// Tests of the whole-number settings: where the value comes from, and each
// edge of what is accepted.
#include "number_setting.h"

#include <gtest/gtest.h>

namespace {

TEST(NumberSettingTest, EnvironmentThenOptionFileThenFallback) {
  const NumberSetting jobs = {"TALLYPLOT_JOBS", "jobs", 1, 64, 1};
  const std::string badVariable =
      "\": set it to a whole number from 1 to 64, or leave it unset or empty\n";
  struct Case {
    const char* variable;  // null: unset
    std::string option;
    int value;
    std::string error;
  };
  const Case cases[] = {
      {nullptr, "", 1, ""},
      {"", "", 1, ""},
      {"1", "", 1, ""},
      {"64", "", 64, ""},
      {"007", "", 7, ""},
      {"0", "", 1, "Invalid TALLYPLOT_JOBS \"0" + badVariable},
      {"65", "", 1, "Invalid TALLYPLOT_JOBS \"65" + badVariable},
      {"-1", "", 1, "Invalid TALLYPLOT_JOBS \"-1" + badVariable},
      {" 2", "", 1, "Invalid TALLYPLOT_JOBS \" 2" + badVariable},
      {"2x", "", 1, "Invalid TALLYPLOT_JOBS \"2x" + badVariable},
      {"4294967298", "", 1,
       "Invalid TALLYPLOT_JOBS \"4294967298" + badVariable},
      {nullptr, "3", 3, ""},
      {"", "3", 3, ""},
      {"2", "3", 2, ""},
      {"2", "many", 2, ""},
      {nullptr, "65", 1,
       "Invalid jobs \"65\" in the [tallyplot] group of "
       "TALLYPLOT_DEFAULTS_FILE: set it to a whole number from 1 to 64\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.variable ? c.variable : "(unset)") + " / " +
                 c.option);
    std::string error;
    EXPECT_EQ(numberSetting(jobs, c.variable, c.option, error), c.value);
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace

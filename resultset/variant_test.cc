// Unit tests of Variant (field values): conversions, and ownership of the
// text across copies and assignment.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "resultset.h"

namespace {

// What a value built from some text converts to.
struct ConversionCase {
  const char* name;
  const char* text;  // null: an absent value
  std::string asText;
  double asDouble;
};

const ConversionCase kConversions[] = {
    {"absent", nullptr, "", 0.0},
    {"empty", "", "", 0.0},
    {"letters", "abc", "abc", 0.0},
    {"percent suffix", "12.5%", "12.5%", 12.5},
    {"leading blank", " 7", " 7", 7.0},
    {"leading tab and newline", "\t\n7", "\t\n7", 7.0},
    {"exponent", "1e2", "1e2", 100.0},
    {"negative", "-3.25", "-3.25", -3.25},
    {"explicit plus, no leading digit", "+.5", "+.5", 0.5},
    {"digits then letters", "7abc", "7abc", 7.0},
    {"dangling exponent", "1e", "1e", 1.0},
    {"decimal comma is not a separator", "2,5", "2,5", 2.0},
    {"trailing blank", "42 ", "42 ", 42.0},
};

TEST(VariantTest, ConvertsToTextAndDouble) {
  for (const ConversionCase& c : kConversions) {
    SCOPED_TRACE(c.name);
    Variant v(c.text);
    EXPECT_EQ(static_cast<std::string>(v), c.asText);
    EXPECT_DOUBLE_EQ(static_cast<double>(v), c.asDouble);
    // Converting does not change the value.
    EXPECT_EQ(static_cast<std::string>(v), c.asText);
    EXPECT_DOUBLE_EQ(static_cast<double>(v), c.asDouble);
  }
}

TEST(VariantTest, KeepsItsOwnCopyOfTheText) {
  char buffer[] = "abc";
  Variant v(buffer);
  buffer[0] = 'x';
  EXPECT_EQ(static_cast<std::string>(v), "abc");
}

TEST(VariantTest, CopyOutlivesItsSource) {
  for (const ConversionCase& c : kConversions) {
    SCOPED_TRACE(c.name);
    auto source = std::make_unique<Variant>(c.text);
    Variant copy(*source);
    source.reset();
    EXPECT_EQ(static_cast<std::string>(copy), c.asText);
    EXPECT_DOUBLE_EQ(static_cast<double>(copy), c.asDouble);
  }
}

// One assignment from a value to a target, both given as texts.
struct AssignmentCase {
  const char* name;
  const char* target;
  const char* source;
  std::string expected;
};

const AssignmentCase kAssignments[] = {
    {"absent onto present", "abc", nullptr, ""},
    {"present onto absent", nullptr, "1e2", "1e2"},
    {"present onto present", "abc", "12.5%", "12.5%"},
    {"empty onto present", "abc", "", ""},
    {"absent onto absent", nullptr, nullptr, ""},
};

TEST(VariantTest, AssignmentCopiesTheValue) {
  for (const AssignmentCase& c : kAssignments) {
    SCOPED_TRACE(c.name);
    Variant target(c.target);
    auto source = std::make_unique<Variant>(c.source);
    Variant returned = (target = *source);
    source.reset();  // the target owns its own copy
    EXPECT_EQ(static_cast<std::string>(target), c.expected);
    EXPECT_EQ(static_cast<std::string>(returned), c.expected);
  }
}

}  // namespace

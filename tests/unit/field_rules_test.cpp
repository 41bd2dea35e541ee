#include "core/field_rules.h"

#include <gtest/gtest.h>

#include <string>

using core::ParseUnsignedField;

TEST(ParseUnsignedField, TakesDigitsWithBlanksAround) {
  EXPECT_EQ(ParseUnsignedField("0", 255), 0u);
  EXPECT_EQ(ParseUnsignedField("255", 255), 255u);
  EXPECT_EQ(ParseUnsignedField("  42\t", 255), 42u);
  EXPECT_EQ(ParseUnsignedField("007", 255), 7u);
  EXPECT_EQ(ParseUnsignedField("4294967295", 0xFFFFFFFFu), 4294967295u);
  EXPECT_EQ(ParseUnsignedField(std::string(5000, '0') + "1", 255), 1u);
}

TEST(ParseUnsignedField, RejectsWhatIsNotAPlainNumberInRange) {
  for (const char* text : {"", "   ", "-1", "+1", "- 1", "1 2", "12a", "0x10", "1.0", "1e3", "\xEF\xBC\x91"}) {
    EXPECT_FALSE(ParseUnsignedField(text, 0xFFFFFFFFu)) << '"' << text << '"';
  }
  EXPECT_FALSE(ParseUnsignedField("256", 255));
  EXPECT_FALSE(ParseUnsignedField("4294967296", 0xFFFFFFFFu));
  EXPECT_FALSE(ParseUnsignedField("18446744073709551617", 0xFFFFFFFFu));  // would wrap a 64-bit value to 1
  EXPECT_FALSE(ParseUnsignedField(std::string(100000, '9'), 0xFFFFFFFFu));
  EXPECT_FALSE(ParseUnsignedField(std::string("1\0", 2), 255));
}

TEST(FormatUnsignedField, ReadsBackAsTheSameValue) {
  for (std::uint32_t value : {0u, 1u, 255u, 65536u, 4294967295u}) {
    EXPECT_EQ(ParseUnsignedField(core::FormatUnsignedField(value), 0xFFFFFFFFu), value);
  }
}

#include "core/overlay_values.h"

#include <gtest/gtest.h>

#include <string>

using namespace core;

TEST(OverlayValues, PackArgbPutsEachChannelInItsByte) {
  EXPECT_EQ(PackArgb(255, 255, 0, 0), 0xFFFF0000u);
  EXPECT_EQ(PackArgb(0x12, 0x34, 0x56, 0x78), 0x12345678u);
  EXPECT_EQ(PackArgb(0, 0, 0, 255), 0x000000FFu);
}

TEST(OverlayValues, LowWordAndTruthValues) {
  EXPECT_EQ(LowWord(65536), 0);
  EXPECT_EQ(LowWord(65537), 1);
  EXPECT_EQ(LowWord(0xFFFFFFFFu), 0xFFFF);
  EXPECT_EQ(AsBool8(2), 1);
  EXPECT_EQ(AsBool8(-1), 1);
  EXPECT_EQ(AsBool8(0), 0);
  EXPECT_FALSE(Accepted(0));
  EXPECT_FALSE(Accepted(0x100));
  EXPECT_TRUE(Accepted(0xFFFFFF01u));
}

TEST(OverlayValues, FormatScreenSizeCoversTheWholeRange) {
  EXPECT_EQ(FormatScreenSize(1024, 768), "1024 x 768");
  EXPECT_EQ(FormatScreenSize(0, 0), "0 x 0");
  EXPECT_EQ(FormatScreenSize(-1, -2147483647 - 1), "-1 x -2147483648");
}

namespace {

// Shift-JIS (code page 932): lead bytes 0x81-0x9F and 0xE0-0xFC.
bool IsShiftJisLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

}  // namespace

TEST(ShortenText, CutsSingleByteTextAtTheLimit) {
  std::string text(128, 'a');
  EXPECT_TRUE(ShortenText(text, kLineTextLimit, nullptr));
  EXPECT_EQ(text, std::string(127, 'a'));
  EXPECT_FALSE(ShortenText(text, kLineTextLimit, nullptr));
  EXPECT_EQ(text.size(), 127u);

  std::string empty;
  EXPECT_FALSE(ShortenText(empty, kLineTextLimit, nullptr));
}

TEST(ShortenText, KeepsALoneCarriageReturnWhereALineBreakIsCut) {
  std::string text = std::string(1022, 'x') + "\r\nmore";
  ShortenText(text, kMultilineTextLimit, nullptr);
  EXPECT_EQ(text.size(), 1023u);
  EXPECT_EQ(text.back(), '\r');
}

TEST(ShortenText, NeverSplitsADoubleByteCharacter) {
  const std::string kanji = "\x88\x9F";  // one character, two bytes
  // 126 single bytes, then a character whose trail byte would be byte 128: cut before its lead byte.
  std::string text = std::string(126, 'a') + kanji + "b";
  ShortenText(text, kLineTextLimit, &IsShiftJisLeadByte);
  EXPECT_EQ(text, std::string(126, 'a'));

  // A character that ends exactly at the limit stays.
  text = std::string(125, 'a') + kanji + "b";
  ShortenText(text, kLineTextLimit, &IsShiftJisLeadByte);
  EXPECT_EQ(text, std::string(125, 'a') + kanji);

  // A trail byte in the lead-byte range (0x9F here) must not be taken for a lead byte: only a walk from
  // the start tells the boundaries.
  text.clear();
  for (int i = 0; i < 100; ++i) text += "\x81\x9F";
  ShortenText(text, kLineTextLimit, &IsShiftJisLeadByte);
  EXPECT_EQ(text.size(), 126u);
}

TEST(ShortenText, OnASingleByteCodePageIsTheByteCut) {
  const auto never = [](unsigned char) { return false; };
  std::string text(2000, '\xE9');
  ShortenText(text, kMultilineTextLimit, never);
  EXPECT_EQ(text.size(), kMultilineTextLimit);
}

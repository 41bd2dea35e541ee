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

constexpr CharacterRule kShiftJis = CharacterRule::DoubleByte(&IsShiftJisLeadByte);
constexpr CharacterRule kUtf8 = CharacterRule::Utf8();
constexpr CharacterRule kSingleByte = CharacterRule::SingleByte();

}  // namespace

TEST(ShortenText, CutsSingleByteTextAtTheLimit) {
  std::string text(128, 'a');
  EXPECT_TRUE(ShortenText(text, kLineTextLimit, kSingleByte));
  EXPECT_EQ(text, std::string(127, 'a'));
  EXPECT_FALSE(ShortenText(text, kLineTextLimit, kSingleByte));
  EXPECT_EQ(text.size(), 127u);

  std::string empty;
  EXPECT_FALSE(ShortenText(empty, kLineTextLimit, kSingleByte));
}

TEST(ShortenText, KeepsALoneCarriageReturnWhereALineBreakIsCut) {
  std::string text = std::string(1022, 'x') + "\r\nmore";
  ShortenText(text, kMultilineTextLimit, kUtf8);
  EXPECT_EQ(text.size(), 1023u);
  EXPECT_EQ(text.back(), '\r');
}

TEST(ShortenText, NeverSplitsADoubleByteCharacter) {
  const std::string kanji = "\x88\x9F";  // one character, two bytes
  // 126 single bytes, then a character whose trail byte would be byte 128: cut before its lead byte.
  std::string text = std::string(126, 'a') + kanji + "b";
  ShortenText(text, kLineTextLimit, kShiftJis);
  EXPECT_EQ(text, std::string(126, 'a'));

  // A character that ends exactly at the limit stays.
  text = std::string(125, 'a') + kanji + "b";
  ShortenText(text, kLineTextLimit, kShiftJis);
  EXPECT_EQ(text, std::string(125, 'a') + kanji);

  // A trail byte in the lead-byte range (0x9F here) must not be taken for a lead byte: only a walk from
  // the start tells the boundaries.
  text.clear();
  for (int i = 0; i < 100; ++i) text += "\x81\x9F";
  ShortenText(text, kLineTextLimit, kShiftJis);
  EXPECT_EQ(text.size(), 126u);
}

// UTF-8 as the ANSI code page (65001): characters of two, three and four bytes that would cross the limit go
// whole, one that ends at it stays.
TEST(ShortenText, NeverSplitsAUtf8Character) {
  for (const std::string character : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
    SCOPED_TRACE(character.size());
    for (std::size_t before = kLineTextLimit - character.size() + 1; before < kLineTextLimit; ++before) {
      std::string text = std::string(before, 'a') + character + "b";
      ShortenText(text, kLineTextLimit, kUtf8);
      EXPECT_EQ(text, std::string(before, 'a'));
    }
    std::string text = std::string(kLineTextLimit - character.size(), 'a') + character + character;
    ShortenText(text, kLineTextLimit, kUtf8);
    EXPECT_EQ(text.size(), kLineTextLimit);
  }
}

// Bytes that form no well-formed UTF-8 character count one by one, so the cut can land between them.
TEST(ShortenText, CountsBrokenUtf8SequencesByTheByte) {
  const std::string broken[] = {
      "\x80",              // a continuation byte without a lead byte
      "\xE2\x82",          // a character cut short, followed by more text
      "\xC0\xAF",          // an overlong form of '/'
      "\xED\xA0\x80",      // a surrogate
      "\xF4\x90\x80\x80",  // beyond U+10FFFF
      "\xF8\x88\x80\x80",  // no lead byte of UTF-8 at all
  };
  for (const std::string& bytes : broken) {
    SCOPED_TRACE(::testing::PrintToString(bytes));
    std::string text = std::string(kLineTextLimit - 1, 'a') + bytes + "b";
    ShortenText(text, kLineTextLimit, kUtf8);
    EXPECT_EQ(text, std::string(kLineTextLimit - 1, 'a') + bytes[0]);
    // After them, a well-formed character goes whole or not at all.
    text = bytes + "\xE2\x82\xAC" + "b";
    EXPECT_EQ(ShortenedLength(text, bytes.size() + 2, kUtf8), bytes.size());
    EXPECT_EQ(ShortenedLength(text, bytes.size() + 3, kUtf8), bytes.size() + 3);
  }
  // A lead byte at the very end is a byte of its own in either rule.
  EXPECT_EQ(CharacterLength("a\xE2", 1, kUtf8), 1u);
  EXPECT_EQ(CharacterLength("a\x88", 1, kShiftJis), 1u);
}

TEST(ShortenText, OnASingleByteCodePageIsTheByteCut) {
  std::string text(2000, '\xE9');
  ShortenText(text, kMultilineTextLimit, kSingleByte);
  EXPECT_EQ(text.size(), kMultilineTextLimit);
}

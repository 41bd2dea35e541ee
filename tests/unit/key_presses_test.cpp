#include "ingame/hook/key_presses.h"

#include <gtest/gtest.h>

using namespace hook;

TEST(KeyPresses, LeftAndRightModifiersShareTheCodeOfKeyMessages) {
  EXPECT_EQ(CommonKeyCode(0xA0), 0x10);  // left and right SHIFT
  EXPECT_EQ(CommonKeyCode(0xA1), 0x10);
  EXPECT_EQ(CommonKeyCode(0xA2), 0x11);  // CTRL
  EXPECT_EQ(CommonKeyCode(0xA3), 0x11);
  EXPECT_EQ(CommonKeyCode(0xA4), 0x12);  // ALT
  EXPECT_EQ(CommonKeyCode(0xA5), 0x12);
  EXPECT_EQ(CommonKeyCode(0x2D), 0x2D);  // INSERT
  EXPECT_EQ(CommonKeyCode(0x1FF), 0xFF);
}

TEST(KeyPresses, AKeyRepeatingIsOnePressUntilReleased) {
  HeldKeys held;
  EXPECT_TRUE(held.Press(0x2D));
  EXPECT_FALSE(held.Press(0x2D));
  EXPECT_TRUE(held.Press(0x24));  // another key while INSERT is held
  held.Release(0x2D);
  EXPECT_TRUE(held.Press(0x2D));
  EXPECT_FALSE(held.Press(0x24));
  held.Clear();
  EXPECT_TRUE(held.Press(0x24));
  EXPECT_TRUE(held.Press(0xFF));
}

TEST(KeyPresses, MarkersReachedAcrossTheWrap) {
  EXPECT_TRUE(MarkerReached(5, 5));
  EXPECT_TRUE(MarkerReached(6, 5));
  EXPECT_FALSE(MarkerReached(4, 5));
  EXPECT_FALSE(MarkerReached(0, 1));  // nothing taken yet
  EXPECT_TRUE(MarkerReached(2, 0xFFFFFFFFu));
  EXPECT_FALSE(MarkerReached(0xFFFFFFFFu, 2));
}

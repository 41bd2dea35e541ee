#include "core/placement.h"

#include <gtest/gtest.h>

using core::CentredOrigin;
using core::ScreenPoint;
using core::ScreenRect;

namespace {

constexpr ScreenRect kWorkArea{0, 0, 1600, 1024};

::testing::AssertionResult At(const ScreenPoint& point, int x, int y) {
  if (point.x == x && point.y == y) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << point.x << ", " << point.y << ") instead of (" << x << ", " << y
                                       << ")";
}

}  // namespace

TEST(CentredOrigin, PutsTheCentreOnTheCentre) {
  EXPECT_TRUE(At(CentredOrigin(kWorkArea, 651, 625, kWorkArea), 474, 199));
  // An owner on a monitor left of and above the primary one, at negative coordinates.
  const ScreenRect left{-1280, -200, 0, 824};
  EXPECT_TRUE(At(CentredOrigin({-1000, -100, -300, 500}, 300, 100, left), -800, 150));
}

// An owner near an edge of the work area: the window moves back in, on that side only.
TEST(CentredOrigin, StaysWithinTheWorkArea) {
  EXPECT_TRUE(At(CentredOrigin({1500, 900, 1600, 1000}, 300, 200, kWorkArea), 1300, 824));
  EXPECT_TRUE(At(CentredOrigin({-50, -40, 50, 40}, 300, 200, kWorkArea), 0, 0));
  EXPECT_TRUE(At(CentredOrigin({-50, 400, 50, 500}, 300, 200, kWorkArea), 0, 350));
}

// Larger than the work area: the top-left corner, and so the title bar, stays on the screen.
TEST(CentredOrigin, KeepsTheTopLeftOfAnOversizedWindowInside) {
  EXPECT_TRUE(At(CentredOrigin(kWorkArea, 2000, 1200, kWorkArea), 0, 0));
  EXPECT_TRUE(At(CentredOrigin({100, 100, 200, 200}, 2000, 1200, {-1280, 0, 0, 1024}), -1280, 0));
}

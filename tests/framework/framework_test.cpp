// Where the framework puts a modal dialog: in the middle of its owner when the owner can be seen, else in the
// middle of the work area; and where the dialog's own start-up put it when that start-up placed or showed it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <ostream>
#include <string>

#include "framework/dialog.h"

namespace {

constexpr UINT kTemplate = 1;  // framework_test.rc
constexpr UINT kPlaced = WM_APP;

enum class StartUp { LeavesItAlone, MovesIt, ShowsIt };
enum class Owner { Visible, Minimised, Hidden };
enum class Expect { CentredOnOwner, CentredOnWorkArea, WhereStartUpLeftIt };

// Records where the dialog manager put the dialog, does what the case says during start-up, and ends once
// running, noting where it is then.
class PlacedDialog : public CDialog {
 public:
  PlacedDialog(StartUp startUp, CWnd* owner) : CDialog(kTemplate, owner), m_startUp(startUp) {}

  RECT m_afterStartUp{};
  RECT m_running{};

 protected:
  BOOL OnInitDialog() override {
    if (m_startUp == StartUp::MovesIt) ::SetWindowPos(m_hWnd, nullptr, 37, 23, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    if (m_startUp == StartUp::ShowsIt) ::ShowWindow(m_hWnd, SW_SHOWNA);
    ::GetWindowRect(m_hWnd, &m_afterStartUp);
    ::PostMessageA(m_hWnd, kPlaced, 0, 0);
    return CDialog::OnInitDialog();
  }

  bool OnMessage(UINT message, WPARAM, LPARAM, LRESULT&) override {
    if (message != kPlaced) return false;
    ::GetWindowRect(m_hWnd, &m_running);
    EndDialog(IDOK);
    return true;
  }

 private:
  StartUp m_startUp;
};

std::string Text(const RECT& rect) {
  return "(" + std::to_string(rect.left) + ", " + std::to_string(rect.top) + ")-(" + std::to_string(rect.right) +
         ", " + std::to_string(rect.bottom) + ")";
}

// Within a pixel in each direction; the centres are compared doubled, so that they stay whole numbers.
::testing::AssertionResult CentredOn(const RECT& inner, const RECT& outer) {
  if (std::abs((inner.left + inner.right) - (outer.left + outer.right)) <= 2 &&
      std::abs((inner.top + inner.bottom) - (outer.top + outer.bottom)) <= 2) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << Text(inner) << " is not centred on " << Text(outer);
}

struct PlacementCase {
  const char* name;
  StartUp startUp;
  Owner owner;
  Expect expect;
};

void PrintTo(const PlacementCase& c, std::ostream* out) { *out << c.name; }

class Placement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(Placement, OfAModalDialog) {
  const PlacementCase& c = GetParam();
  // An owner off the middle of the screen, so that the two centres differ.
  CWnd owner;
  owner.m_hWnd = ::CreateWindowExA(0, "Static", "Owner", WS_POPUP | WS_CAPTION, 60, 50, 500, 300, nullptr, nullptr,
                                   nullptr, nullptr);
  ASSERT_TRUE(owner.m_hWnd);
  if (c.owner == Owner::Visible) ::ShowWindow(owner.m_hWnd, SW_SHOWNOACTIVATE);
  if (c.owner == Owner::Minimised) ::ShowWindow(owner.m_hWnd, SW_SHOWMINNOACTIVE);
  RECT ownerRect{};
  ::GetWindowRect(owner.m_hWnd, &ownerRect);

  PlacedDialog dialog(c.startUp, &owner);
  EXPECT_EQ(dialog.DoModal(), IDOK);
  ::DestroyWindow(owner.m_hWnd);
  owner.m_hWnd = nullptr;

  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ASSERT_TRUE(::GetMonitorInfoA(::MonitorFromRect(&dialog.m_running, MONITOR_DEFAULTTONEAREST), &monitor));
  switch (c.expect) {
    case Expect::CentredOnOwner:
      EXPECT_TRUE(CentredOn(dialog.m_running, ownerRect));
      break;
    case Expect::CentredOnWorkArea:
      EXPECT_TRUE(CentredOn(dialog.m_running, monitor.rcWork));
      break;
    case Expect::WhereStartUpLeftIt:
      EXPECT_EQ(Text(dialog.m_running), Text(dialog.m_afterStartUp));
      EXPECT_FALSE(CentredOn(dialog.m_running, ownerRect));
      break;
  }
}

const PlacementCase kCases[] = {
    {"VisibleOwner", StartUp::LeavesItAlone, Owner::Visible, Expect::CentredOnOwner},
    {"MinimisedOwner", StartUp::LeavesItAlone, Owner::Minimised, Expect::CentredOnWorkArea},
    {"HiddenOwner", StartUp::LeavesItAlone, Owner::Hidden, Expect::CentredOnWorkArea},
    {"MovedDuringStartUp", StartUp::MovesIt, Owner::Visible, Expect::WhereStartUpLeftIt},
    {"ShownDuringStartUp", StartUp::ShowsIt, Owner::Visible, Expect::WhereStartUpLeftIt},
};

INSTANTIATE_TEST_SUITE_P(Framework, Placement, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<PlacementCase>& test) { return test.param.name; });

}  // namespace

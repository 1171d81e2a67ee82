// The tray's hidden window in-process: creation, the menu's shape, the icon and the commands.
#include "tray_fixture.h"

using namespace testsupport;
using namespace traytest;

namespace {

class WindowTest : public TrayTest {};

TEST_F(WindowTest, CreationMakesTheHiddenWindowWithTheClassMenu) {
  HWND w = CreateTray();
  ASSERT_NE(nullptr, w);
  EXPECT_FALSE(IsWindowVisible(w));
  char cls[64] = "";
  GetClassNameA(w, cls, sizeof cls);
  EXPECT_STREQ("MainWClass", cls);
  EXPECT_NE(nullptr, Popup());
}

}  // namespace

namespace {

TEST_F(WindowTest, TheRealTrayStartsAndEndsOnClose) {
  RunningTray real;
  ASSERT_TRUE(real.up());
  EXPECT_EQ(0u, real.Close());
}

}  // namespace

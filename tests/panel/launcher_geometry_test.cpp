// The app window's size and position from the work area and the screen's scale.
#include "panel/panel_launcher.h"

#include <gtest/gtest.h>

#include "launcher_fixture.h"

namespace tw::test {
namespace {

void expectGeometry(const PanelGeometry& g, int width, int height, int x, int y) {
  EXPECT_EQ(g.width, width);
  EXPECT_EQ(g.height, height);
  EXPECT_EQ(g.x, x);
  EXPECT_EQ(g.y, y);
}

TEST(PanelWindowGeometry, WorkedExamples) {
  expectGeometry(panelWindowGeometry({0, 0, 1920, 1040}, 1.0), 1040, 900, 440, 70);
  expectGeometry(panelWindowGeometry({0, 0, 1280, 800}, 1.0), 1040, 768, 120, 16);
  // 144 DPI: W 1706 and H 933 after truncation.
  expectGeometry(panelWindowGeometry({0, 0, 2560, 1400}, 1.5), 1040, 900, 333, 16);
}

TEST(PanelWindowGeometry, NarrowAndOffsetWorkAreas) {
  // Narrower than the maximum: the margin is split evenly and the area's origin is added.
  expectGeometry(panelWindowGeometry({100, 40, 1000, 1040}, 1.0), 852, 900, 124, 90);
  // A taskbar on the left at 150 %: the origin is scaled as well.
  expectGeometry(panelWindowGeometry({90, 0, 2880, 1620}, 1.5), 1040, 900, 470, 90);
}

TEST_F(LauncherTest, ScaleFallsBackToTheScreenAndThenToOne) {
  shell.setWorkArea(ScreenRect{0, 0, 2560, 1400});
  shell.setSystemDpi(144);
  shell.setScreenLogPixelsX(96);
  expectGeometry(launcher.computeGeometry(), 1040, 900, 333, 16);

  // No GetDpiForSystem: the screen's LOGPIXELSX is taken.
  shell.setSystemDpi(std::nullopt);
  shell.setScreenLogPixelsX(144);
  expectGeometry(launcher.computeGeometry(), 1040, 900, 333, 16);

  // Zero from either source means 1.0.
  shell.setScreenLogPixelsX(0);
  expectGeometry(launcher.computeGeometry(), 1040, 900, 760, 250);
  shell.setSystemDpi(0);
  shell.setScreenLogPixelsX(144);
  expectGeometry(launcher.computeGeometry(), 1040, 900, 760, 250);
}

TEST_F(LauncherTest, UnreadableWorkAreaUsesTheFallbackArea) {
  shell.setWorkArea(std::nullopt);
  expectGeometry(launcher.computeGeometry(), 1040, 768, 120, 16);
}

}  // namespace
}  // namespace tw::test

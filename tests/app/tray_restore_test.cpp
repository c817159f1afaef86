// The tray brings back a window the operator minimised: with a tray the window has no taskbar
// entry, so a double-click on the tray icon is the way back, and it must show the window restored.
#include <QSystemTrayIcon>

#include "tests/app/shell_fixture.h"

namespace velmora::test {
namespace {

TEST_F(ShellTest, TrayDoubleClickRestoresAMinimisedWindow) {
  WriteConfigWithFreePort();
  TFrmDataSnap& window = CreateWindow();
  auto* tray = Find<QSystemTrayIcon>("TrayIcon1");
  const auto double_click = [tray] { Q_EMIT tray->activated(QSystemTrayIcon::DoubleClick); };

  // Minimised while shown: one double-click restores it instead of hiding it.
  window.showMinimized();
  ASSERT_TRUE(window.isMinimized());
  double_click();
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());
  double_click();
  EXPECT_FALSE(window.isVisible());

  // Minimised, then hidden: the next double-click shows it restored, not minimised.
  window.showMinimized();
  window.hide();
  ASSERT_TRUE(window.isMinimized());
  double_click();
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());
}

}  // namespace
}  // namespace velmora::test

// The main window's taskbar entry: none where a tray reaches the window, kept where no tray
// exists, because the window is then reached only from the taskbar.
#include <QWindow>

#include "tests/app/shell_fixture.h"

namespace velmora::test {
namespace {

class TaskbarEntryTest : public ShellTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TaskbarEntryTest, TheWindowHasATaskbarEntryOnlyWithoutATray) {
  const bool tray = GetParam();
  SetTrayAvailable(tray);
  WriteConfigWithFreePort();
  TFrmDataSnap& window = CreateWindow();
  ASSERT_TRUE(service_->Started());
  // A tool window is the kind the taskbar leaves out.
  const Qt::WindowType expected = tray ? Qt::Tool : Qt::Window;
  EXPECT_EQ(window.windowType(), expected);
  // The title bar keeps its buttons either way.
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowCloseButtonHint));
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  // The platform window, which the window system sees, has the same type once shown.
  window.show();
  ASSERT_NE(window.windowHandle(), nullptr);
  EXPECT_EQ(window.windowHandle()->type(), expected);
  // Without a tray the close button minimises the window: it stays on the taskbar to come back.
  window.close();
  EXPECT_EQ(window.isVisible(), !tray);
  EXPECT_EQ(window.isMinimized(), !tray);
}

INSTANTIATE_TEST_SUITE_P(Tray, TaskbarEntryTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& tray) {
                           return tray.param ? std::string("Present") : std::string("Absent");
                         });

}  // namespace
}  // namespace velmora::test

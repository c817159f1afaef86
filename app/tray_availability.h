// Whether the desktop has a notification area. Without one the operator must never be locked
// out: the window is shown at start-up and its close button minimises it instead of hiding it.
// Decided here only, so that tests can choose either behaviour.
#pragma once

#include <QtCore/qnamespace.h>

#include <optional>

namespace velmora {

// The forced answer when set, else what the platform says.
bool TrayAvailable();
// Forces the answer (std::nullopt: ask the platform again).
void SetTrayAvailable(std::optional<bool> available);

// The main window's type, by TrayAvailable(). With a tray the process has no taskbar entry: the
// window is a tool window, which the taskbar leaves out (on Windows a tool window has no taskbar
// button; on X11 it is a utility window, which window managers keep off the task list), and the
// operator reaches it from the tray. Without a tray it is an ordinary window
// with its taskbar entry, because the window is then reached only from the taskbar: the close
// button minimises it, and a minimised window without an entry could not be brought back.
Qt::WindowType MainWindowType();

}  // namespace velmora

#include "app/tray_availability.h"

#include <QSystemTrayIcon>

namespace velmora {

namespace {
std::optional<bool> g_forced;
}  // namespace

bool TrayAvailable() {
  if (g_forced) return *g_forced;
  return QSystemTrayIcon::isSystemTrayAvailable();
}

void SetTrayAvailable(std::optional<bool> available) {
  g_forced = available;
}

Qt::WindowType MainWindowType() {
  return TrayAvailable() ? Qt::Tool : Qt::Window;
}

}  // namespace velmora

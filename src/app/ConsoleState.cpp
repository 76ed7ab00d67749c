#include "app/ConsoleState.h"

void TConsoleState::SetPanels(const std::string& port, const std::string& state, const std::string& megabytes) {
  std::lock_guard hold(FLock);
  FPanels.Port = port;
  FPanels.State = state;
  FPanels.Megabytes = megabytes;
}

void TConsoleState::SetLabel(const std::string& utf8) {
  std::lock_guard hold(FLock);
  FPanels.Label = utf8;
}

TConsoleState::TPanels TConsoleState::Panels() const {
  std::lock_guard hold(FLock);
  return FPanels;
}

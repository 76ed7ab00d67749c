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

void TConsoleState::SetResources(std::vector<TListedResource> rows) {
  std::lock_guard hold(FLock);
  ++FResources.Pass;
  FResources.Unloaded = false;
  FResources.Rows = std::move(rows);
}

void TConsoleState::ResourcesUnloaded() {
  std::lock_guard hold(FLock);
  FResources.Unloaded = true;
}

TConsoleState::TPanels TConsoleState::Panels() const {
  std::lock_guard hold(FLock);
  return FPanels;
}

TConsoleState::TResources TConsoleState::Resources() const {
  std::lock_guard hold(FLock);
  return FResources;
}

uint64_t TConsoleState::ResourcesPass() const {
  std::lock_guard hold(FLock);
  return FResources.Pass;
}

std::string ResourceStateText(const TListedResource& r) { return r.Reason.empty() ? "正常" : r.Reason; }

const char* ResourceListName(TResourceList list) {
  switch (list) {
    case TResourceList::Jpk: return "jpk";
    case TResourceList::Wzl: return "wzl";
    case TResourceList::Map: return "map";
    case TResourceList::Wav: return "wav";
  }
  return "";
}

// What the browser console shows, kept as the program runs: the status bar's four panels, the
// deployment address, the resource view of the last complete load pass, the operator log's last
// lines and the traffic series. The program's view callbacks, its log printer and its once-a-second
// tick write it; the console's API reads it. Any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/LoadReport.h"
#include "app/OperatorLogRing.h"
#include "app/TrafficSeries.h"

class TConsoleState {
 public:
  struct TPanels {
    std::string Port = "[-]";
    std::string State = "启动中";
    std::string Megabytes = "[-]";
    std::string Label;  // panel 3 (UTF-8)
  };
  struct TResources {
    uint64_t Pass = 0;  // complete passes so far; 0: no view yet
    bool Unloaded = false;  // the catalogue was emptied after that pass
    std::vector<TListedResource> Rows;
  };

  void SetPanels(const std::string& port, const std::string& state, const std::string& megabytes);
  void SetLabel(const std::string& utf8);
  void SetResources(std::vector<TListedResource> rows);
  void ResourcesUnloaded();

  TPanels Panels() const;
  TResources Resources() const;
  uint64_t ResourcesPass() const;  // Resources().Pass without copying the rows

  TOperatorLogRing Log;
  TTrafficSeries Traffic;

 private:
  mutable std::mutex FLock;
  TPanels FPanels;
  TResources FResources;
};

// The file rules view's word for a resource's state: "正常" when held, else its reason.
std::string ResourceStateText(const TListedResource& r);
// "jpk", "wzl", "map", "wav".
const char* ResourceListName(TResourceList list);

// What the browser console shows that the program keeps only for it: the status bar's four panels,
// the operator log's last lines and the traffic series. The program's view callbacks, its log
// printer and its once-a-second tick write it; the console's API reads it. Any thread.
#pragma once

#include <mutex>
#include <string>

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

  void SetPanels(const std::string& port, const std::string& state, const std::string& megabytes);
  void SetLabel(const std::string& utf8);
  TPanels Panels() const;

  TOperatorLogRing Log;
  TTrafficSeries Traffic;

 private:
  mutable std::mutex FLock;
  TPanels FPanels;
};

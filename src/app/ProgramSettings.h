// Where the program's process-wide settings become what the catalogue and the service take: the
// lists of a load pass, a service object's settings, the operator log sink. The settings dialogs
// and the start sequence fill the process-wide names; only this unit reads them for the
// components. Any thread (reads take g_ConfigLock).
#pragma once

#include <string>

#include "catalogue/uGameLib.h"
#include "platform/LogSink.h"
#include "service/uHttpServer.h"

// What the headless program's options change in the settings of every service it starts.
struct TServiceOverrides {
  int MaxBandwidth = -1;          // megabytes per second, 0 no cap; -1 the settings' value
  std::string ListenHost = "+";  // the interface to bind
};

// The work-log folder of every service object, below the working directory.
inline constexpr char kWorkLogDir[] = "./Logs";

// The client directory and the four lists as they stand.
TLoadLists LoadListsOfSettings();
// The password, port and cap as they stand, with `overrides` applied, and the work-log folder.
TServiceSettings ServiceSettingsOfSettings(const TServiceOverrides& overrides = {});
// Lines to the operator log queue, each with its time.
TLogSink OperatorLog();

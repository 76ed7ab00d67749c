#include "app/ProgramSettings.h"

#include <mutex>

#include "settings/TarnShare.h"

TLoadLists LoadListsOfSettings() {
  TLoadLists lists;
  std::lock_guard lock(g_ConfigLock);
  lists.SearchDir = g_sSearchDir;
  for (const TNameValue& p : g_JpkList.Items()) lists.Jpk.emplace_back(p.Name, p.Value);
  lists.Wzl = g_WzlList;
  lists.Maps = g_MapList;
  lists.Wavs = g_WavList;
  return lists;
}

TServiceSettings ServiceSettingsOfSettings(const TServiceOverrides& overrides) {
  TServiceSettings settings;
  {
    std::lock_guard hold(g_ConfigLock);
    settings.WClientPass = g_sWClientPass;
  }
  settings.Port = g_nServerPort.load();
  settings.MaxBandwidth = g_nMaxBandwidth.load();
  if (overrides.MaxBandwidth >= 0) settings.MaxBandwidth = static_cast<uint16_t>(overrides.MaxBandwidth);
  settings.ListenHost = overrides.ListenHost;
  settings.WorkLogDir = kWorkLogDir;
  return settings;
}

TLogSink OperatorLog() {
  return [](const std::string& line) { MainOutMessage(line); };
}

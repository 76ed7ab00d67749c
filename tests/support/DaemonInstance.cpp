#include "support/DaemonInstance.h"

#include <stdexcept>
#include <vector>

#include "platform/IniFile.h"
#include "support/HttpClient.h"

void WriteConfigPort(const std::string& folder, uint16_t port) {
  TIniFile ini(folder + "/Config.ini");
  ini.WriteString("Setup", "Port", std::to_string(port));
  ini.UpdateFile();
}

std::string TDaemonInstance::Url() const { return "http://127.0.0.1:" + std::to_string(Port) + "/wclientdat/"; }

TDaemonInstance StartDaemonIn(const std::string& folder, std::chrono::milliseconds timeout) {
  const std::string started = "微端部署地址: ", failed = "微端服务器启动异常！";
  std::string output;
  for (int attempt = 0; attempt < 5; ++attempt) {
    TDaemonInstance d;
    d.Folder = folder;
    d.Port = FreeLoopbackPort();
    WriteConfigPort(folder, d.Port);
    d.Process = std::make_unique<TChildProcess>(BuiltProgram("NuvoClientDaemon"), std::vector<std::string>{}, folder);
    const auto line = d.Process->WaitForLine(
        [&](const std::string& l) { return l.find(started) != std::string::npos || l.find(failed) != std::string::npos; },
        timeout);
    if (!line) throw std::runtime_error("the headless program did not start:\n" + d.Process->Output());
    if (line->find(started + d.Url()) != std::string::npos) return d;
    if (line->find(started) != std::string::npos)
      throw std::runtime_error("unexpected address line: " + *line);
    output = d.Process->Output();
    d.Process->Wait(timeout);  // a failed start ends the program
  }
  throw std::runtime_error("no free port for the headless program:\n" + output);
}

// The request handler on arbitrary request targets, and the client-side checks of answers on
// arbitrary bodies. The handler must answer 200 or 404 with its page, or 400 with no body, and every
// refusal must add exactly one line to the work log, whatever bytes the target or its decoded token
// hold.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/ProgramSettings.h"
#include "FuzzSupport.h"
#include "platform/FileSystem.h"
#include "client/WClientProbe.h"
#include "service/uHttpServer.h"
#include "settings/TarnShare.h"

namespace {

using fuzz::Check;

// The service object writes its work log below ./Logs of the scratch folder; each line is checked
// and the file removed again.
struct TFixture {
  TFixture() : Server(std::make_unique<TNuvoHttpServer>(nullptr, ServiceSettingsOfSettings(), OperatorLog(), [this] { return Tick; })) {}
  uint64_t Tick = 1000000;
  std::unique_ptr<TNuvoHttpServer> Server;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::TInScratchDir here;
  static TFixture f;
  const std::string in(reinterpret_cast<const char*>(data), size);

  THttpServerRequest c;
  c.URL = in;
  f.Tick += 1000;
  const uint32_t status = f.Server->Process(c);
  Check(status == 200 || status == 400 || status == 404);
  if (FileExists(f.Server->WorkLogsFile())) {
    const std::string line = ReadFileBytes(f.Server->WorkLogsFile());
    std::filesystem::remove(f.Server->WorkLogsFile());
    Check(status == 404);
    Check(line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0);
    Check(line.find_first_of("\r\n") == line.size() - 2);
  }
  if (status == 400) Check(c.OutContent.empty() && c.OutContentType.empty());

  CheckImagePayload(in, 0, 0, nullptr);
  CheckHeaderPayload(in, nullptr);
  CheckIndexTable(in, nullptr);
  CheckStreamPayload(in, nullptr);
  std::string dir, lib;
  SplitCatalogueKey(in, dir, lib);
  return 0;
}

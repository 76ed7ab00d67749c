// The request handler on arbitrary request targets, and the client-side checks of answers on
// arbitrary bodies. The handler must answer 0, 200 or 404 with its page, and every refusal must add
// exactly one line to the work log, whatever bytes the target or its decoded token hold.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/FileSystem.h"
#include "service/WClientProbe.h"
#include "service/uHttpServer.h"
#include "settings/TarnShare.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

struct TFixture {
  TFixture() {
    const auto dir = std::filesystem::temp_directory_path() / ("dispatch-fuzz-" + std::to_string(std::rand()));
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    Server = std::make_unique<TNuvoHttpServer>(nullptr, [this] { return Tick; });
  }
  uint64_t Tick = 1000000;
  std::unique_ptr<TNuvoHttpServer> Server;
  size_t LogSize = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TFixture f;
  const std::string in(reinterpret_cast<const char*>(data), size);

  THttpServerRequest c;
  c.URL = in;
  f.Tick += 1000;
  const uint32_t status = f.Server->Process(c);
  Check(status == 0 || status == 200 || status == 404);
  const int64_t logSize = FileSizeOf(f.Server->WorkLogsFile());
  const size_t now = logSize < 0 ? 0 : static_cast<size_t>(logSize);
  if (now != f.LogSize) {
    const std::string all = ReadFileBytes(f.Server->WorkLogsFile());
    const std::string line = all.substr(f.LogSize);
    Check(status == 404);
    Check(line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0);
    Check(line.find_first_of("\r\n") == line.size() - 2);
    f.LogSize = now;
  }
  if (status == 0) Check(c.OutContent.empty() && c.OutContentType.empty());

  CheckImagePayload(in, 0, 0, nullptr);
  CheckHeaderPayload(in, nullptr);
  CheckIndexTable(in, nullptr);
  CheckStreamPayload(in, nullptr);
  std::string dir, lib;
  SplitCatalogueKey(in, dir, lib);
  return 0;
}

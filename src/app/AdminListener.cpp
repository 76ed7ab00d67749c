#include "app/AdminListener.h"

#include "app/AdminAssets.h"
#include "app/MetricsListener.h"
#include "http/HttpApiServer.h"
#include "service/FrontEndCoding.h"

namespace {

// Workers besides the first: a command that waits for the service (a start binding its port) does
// not hold up the page's polls.
constexpr int kExtraWorkers = 3;
constexpr size_t kCompressMinSize = 1024;

}  // namespace

TAdminListener::TAdminListener(const TServiceControl& control, TConsoleState& state, std::string token,
                               TRunServiceCommand run)
    : FControl(control), FToken(token), FApi(control, state, std::move(token), std::move(run)),
      FServer(std::make_unique<THttpApiServer>()) {
  FServer->SetEntityTagger(EntityTag);  // the page's files are then revalidated, not sent again
}

TAdminListener::~TAdminListener() = default;

int TAdminListener::Open(const std::string& host, const std::string& port) {
  FServer->RegisterCompress(CompressDeflate, kCompressMinSize);
  FServer->SetOnRequest([this](THttpServerRequest& c) -> uint32_t {
    if (const uint32_t status = AnswerMetricsRequest(FControl, c)) return status;
    if (const uint32_t status = FApi.Answer(c)) return status;
    if (const uint32_t status = AnswerAdminAsset(c)) return status;
    return 404;
  });
  FServer->Clone(kExtraWorkers);
  const int rc = FServer->AddUrl("/", port, false, host);
  if (rc == 0) FHost = host;
  return rc;
}

uint16_t TAdminListener::BoundPort() const { return FServer->BoundPort(); }

std::string TAdminListener::ConsoleUrl() const {
  std::string host = FHost;
  if (host == "0.0.0.0") host = "127.0.0.1";
  if (host == "::") host = "::1";
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  return "http://" + host + ":" + std::to_string(BoundPort()) + "/#token=" + FToken;
}

#include "app/AdminAssets.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "http/HttpApiServer.h"

namespace {

std::string_view ContentType(std::string_view name) {
  const auto endsWith = [name](std::string_view ext) {
    return name.size() >= ext.size() && name.substr(name.size() - ext.size()) == ext;
  };
  if (endsWith(".html")) return "text/html; charset=utf-8";
  if (endsWith(".js")) return "application/javascript; charset=utf-8";
  if (endsWith(".css")) return "text/css; charset=utf-8";
  return "application/octet-stream";
}

// One shared body per file, made at first use: its coded form and entity tag are made once too.
struct TAssetBody {
  std::string_view ContentType;
  THttpBodyRef Body;
};

const TAssetBody* FindAsset(std::string_view path) {
  static const std::vector<std::pair<std::string, TAssetBody>> bodies = [] {
    std::vector<std::pair<std::string, TAssetBody>> out;
    for (size_t i = 0; i < kAdminFileCount; ++i) {
      const TEmbeddedFile& f = kAdminFiles[i];
      auto body = std::make_shared<const THttpBody>(std::string(f.Bytes));
      out.push_back({"/" + std::string(f.Name), {ContentType(f.Name), std::move(body)}});
    }
    return out;
  }();
  if (path == "/") path = "/index.html";
  for (const auto& [name, asset] : bodies)
    if (name == path) return &asset;
  return nullptr;
}

}  // namespace

uint32_t AnswerAdminAsset(THttpServerRequest& c) {
  const TAssetBody* asset = FindAsset(std::string_view(c.URL).substr(0, c.URL.find('?')));
  if (!asset) return 0;
  if (c.Method != "GET" && c.Method != "HEAD") return 405;
  c.OutBody = asset->Body;
  c.OutContentType = std::string(asset->ContentType);
  return 200;
}

#include "service/uHttpServer.h"

#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

void TWorkLog::LogsOut(const std::string& msg) {
  const std::string line = AnsiFromUtf8(NowDateTimeText() + " " + msg + "\r\n");
  std::lock_guard<std::mutex> hold(FLock);
  AppendFileBytes(WorkLogsFile, line);
}

std::string GetErrorMsg(int32_t nCode) {
  std::string page = std::string("</table></p><p><i>Powered by ") + kVendorHost + " <strong>\r\n";
  if (nCode != 0) page += "Error Code: " + std::to_string(nCode) + "\r\n";
  page += std::string("</strong></i> - <a href=") + kVendorUrl + ">" + kVendorUrl + "/</a></p></body></html>\r\n";
  return AnsiFromUtf8(page);
}

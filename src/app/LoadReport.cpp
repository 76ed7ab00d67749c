#include "app/LoadReport.h"

std::string NotLoadedReason(const TPassEntry& entry) {
  switch (entry.State) {
    case TEntryState::Stored: return {};
    case TEntryState::Missing: return "文件不存在";
    case TEntryState::Refused:
      switch (entry.Refusal) {
        case TRefusal::NoLibrary: return "不是资源库文件";
        case TRefusal::WrongPassword:
        case TRefusal::NoPassword: return "密码错误";  // the view opens it and the password fails
        case TRefusal::None: break;
      }
      break;
    case TEntryState::Unreadable: break;
  }
  return entry.Error.empty() ? "无法读取" : "无法读取: " + entry.Error;
}

std::vector<std::string> NotLoadedLines(const TPassReport& report) {
  std::vector<std::string> lines;
  for (const TPassEntry& e : report.Entries) {
    if (e.State != TEntryState::Stored) lines.push_back("未加载: " + e.Path + " (" + NotLoadedReason(e) + ")");
  }
  lines.push_back("资源已加载 " + std::to_string(report.Count(TEntryState::Stored)) + "/" +
                  std::to_string(report.Entries.size()));
  return lines;
}

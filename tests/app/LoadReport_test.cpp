#include "app/LoadReport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TPassEntry Entry(const std::string& path, TEntryState state, TRefusal refusal = TRefusal::None,
                 const std::string& error = {}) {
  TPassEntry e;
  e.Path = path;
  e.State = state;
  e.Refusal = refusal;
  e.Error = error;
  return e;
}

TEST(NotLoadedLines, OneLinePerEntryNotStoredInTheFileRulesViewsWordsThenTheCount) {
  TPassReport report;
  report.Entries = {Entry("/c/Data/A.jpk", TEntryState::Stored),
                    Entry("/c/Data/Items.jpk", TEntryState::Refused, TRefusal::WrongPassword),
                    Entry("/c/Data/Nopw.jpk", TEntryState::Refused, TRefusal::NoPassword),
                    Entry("/c/Data/Gone.jpk", TEntryState::Missing),
                    Entry("/c/Data/Readme.txt", TEntryState::Refused, TRefusal::NoLibrary),
                    Entry("/c/Map/0.map", TEntryState::Unreadable, TRefusal::None, "Cannot read file </c/Map/0.map>"),
                    Entry("/c/Map/1.map", TEntryState::Unreadable),
                    Entry("/c/Wav/1.wav", TEntryState::Stored)};
  EXPECT_EQ(NotLoadedLines(report), (std::vector<std::string>{
                                        "未加载: /c/Data/Items.jpk (密码错误)",
                                        "未加载: /c/Data/Nopw.jpk (密码错误)",
                                        "未加载: /c/Data/Gone.jpk (文件不存在)",
                                        "未加载: /c/Data/Readme.txt (不是资源库文件)",
                                        "未加载: /c/Map/0.map (无法读取: Cannot read file </c/Map/0.map>)",
                                        "未加载: /c/Map/1.map (无法读取)",
                                        "资源已加载 2/8"}));
  EXPECT_EQ(NotLoadedLines(TPassReport{}), std::vector<std::string>{"资源已加载 0/0"});
}

}  // namespace

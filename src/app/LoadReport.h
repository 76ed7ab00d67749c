// What a load pass left out, in the operator's words: one line per listed resource the pass did
// not store, with its path and the reason in the file rules view's words, then the count stored
// of listed. Formatted from the pass's report; written by the headless program after each
// complete pass.
#pragma once

#include <string>
#include <vector>

#include "catalogue/PassReport.h"

// The reason shown for an entry not stored: "文件不存在", "密码错误", "不是资源库文件", or
// "无法读取" with the error when there is one. Empty for a stored entry.
std::string NotLoadedReason(const TPassEntry& entry);

// "未加载: <path> (<reason>)" per entry not stored, in list order; then
// "资源已加载 <stored>/<listed>".
std::vector<std::string> NotLoadedLines(const TPassReport& report);

// What a load pass left out: one line per listed resource the catalogue does not hold, with its
// path and the reason in the file rules view's words, then the count stored of listed. Written by
// the headless program after each complete pass; on the loader thread, reading only the catalogue
// and the lists that pass read.
#pragma once

#include <string>
#include <vector>

class TGameLib;
struct TLoadLists;

// "未加载: <path> (<reason>)" per listed resource not held, in list order, the reason being
// "文件不存在", "密码错误", "不是资源库文件" or "无法读取" (with the error when there is one); then
// "资源已加载 <stored>/<listed>". Empty lines of the lists are not resources and count nowhere.
std::vector<std::string> NotLoadedLines(const TGameLib& lib, const TLoadLists& lists);

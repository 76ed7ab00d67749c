#include "platform/ProgramArgs.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/WideText.h"

std::vector<std::string> ProgramArgumentTexts(int argc, char** argv) {
  SetConsoleOutputCP(CP_UTF8);
  int n = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
  if (!wide) return {argv, argv + argc};
  std::vector<std::string> args;
  for (int i = 0; i < n; ++i) args.push_back(Utf8FromWide(wide[i]));
  LocalFree(wide);
  return args;
}

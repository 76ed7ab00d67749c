// A program's command line as UTF-8 text, for main to hand to its option parser. Windows gives
// main its arguments in the ANSI code page (a Chinese folder name would arrive as "??"): there
// they come from the wide command line instead, and a console window is switched to UTF-8 output
// for what the program prints through the C library. Create once, at the start of main.
#pragma once

#include <string>
#include <vector>

// The arguments as UTF-8, argv[0] first.
std::vector<std::string> ProgramArgumentTexts(int argc, char** argv);

class TProgramArguments {
 public:
  TProgramArguments(int argc, char** argv) : FTexts(ProgramArgumentTexts(argc, argv)) {
    for (const std::string& t : FTexts) FPointers.push_back(t.c_str());
    FPointers.push_back(nullptr);
  }
  TProgramArguments(const TProgramArguments&) = delete;
  TProgramArguments& operator=(const TProgramArguments&) = delete;

  int Count() const { return static_cast<int>(FTexts.size()); }
  const char* const* Values() const { return FPointers.data(); }

 private:
  std::vector<std::string> FTexts;
  std::vector<const char*> FPointers;
};

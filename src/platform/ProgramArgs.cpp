#include "platform/ProgramArgs.h"

std::vector<std::string> ProgramArgumentTexts(int argc, char** argv) { return {argv, argv + argc}; }

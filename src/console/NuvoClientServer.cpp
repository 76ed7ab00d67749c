// The operator console program.
#include "console/ConsoleProgram.h"

int main(int argc, char* argv[]) { return RunConsole(argc, argv); }

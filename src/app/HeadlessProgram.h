// The headless program's body: the console's start sequence in the current directory, the
// operator log and the traffic line on standard output, signals in place of the menu. Shared by
// NuvoClientDaemon and the load benchmark's variant without a bandwidth cap.
#pragma once

// The whole program; call it from main before any other thread exists. Returns the exit status.
int RunHeadlessProgram();

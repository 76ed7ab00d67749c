// NuvoClientDaemon with the bandwidth cap at 0 (no cap), as an operator sets it in the console's
// settings dialog: the end-to-end load benchmark runs it beside the daemon as it starts (100 MB/s).
#include "app/HeadlessProgram.h"
#include "settings/TarnShare.h"

int main() {
  g_nMaxBandwidth = 0;
  return RunHeadlessProgram();
}

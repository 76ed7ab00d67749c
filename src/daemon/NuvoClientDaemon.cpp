// The resource server without a window: the console's start sequence in the current directory
// (Config.ini, the list files, Logs/), the operator log and the traffic line on standard output,
// and signals in place of the menu:
//   SIGHUP           load the resources again; the running service keeps its index table and key
//   SIGUSR1          stop the service and start a fresh one (new index table, key, work log)
//   SIGTERM, SIGINT  release the service and the catalogue, exit with status 0
// A service that fails to start ends the program with status 1 after its start-failure line.
#include "app/HeadlessProgram.h"

int main() { return RunHeadlessProgram(); }

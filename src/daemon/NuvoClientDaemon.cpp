// The resource server without a window: the console's start sequence in the current directory
// (Config.ini, the list files, Logs/), the operator log and the traffic line on standard output,
// and signals in place of the menu:
//   SIGHUP           load the resources again; the running service keeps its index table and key
//   SIGUSR1          stop the service and start a fresh one (new index table, key, work log)
//   SIGTERM, SIGINT  release the service and the catalogue, exit with status 0
// A service that fails to start ends the program with status 1 after its start-failure line.
// Options (--help lists them) set the folder, the bandwidth cap, the interface, the metrics
// listener; readiness and reloads are told to systemd when it started the program (Type=notify).
#include "app/HeadlessProgram.h"
#include "platform/ProgramArgs.h"

int main(int argc, char** argv) {
  const TProgramArguments args(argc, argv);
  return RunHeadlessProgram(args.Count(), args.Values());
}

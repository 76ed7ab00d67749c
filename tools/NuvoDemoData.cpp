// Writes a demo client installation with its Config.ini and list files:
//   NuvoDemoData FOLDER [PORT]      (PORT defaults to 8800)
// Then `cd FOLDER && NuvoClientDaemon` serves it.
#include <cstdio>
#include <exception>
#include <string>

#include "support/DemoData.h"
#include "settings/TarnShare.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s FOLDER [PORT]\n", argv[0]);
    return 2;
  }
  uint16_t port = 8800;
  if (argc == 3 && !ParsePortValue(argv[2], port)) {
    std::fprintf(stderr, "not a port: %s\n", argv[2]);
    return 2;
  }
  try {
    const TDemoData demo = WriteDemoData(argv[1], port);
    int images = 0;
    for (const TDemoLibrary& lib : demo.Libraries) images += lib.ImageCount;
    std::printf("demo installation in %s: %zu libraries (%d images), %zu maps, %zu wavs; port %u\n",
                demo.Folder.c_str(), demo.Libraries.size(), images, demo.Maps.size(), demo.Wavs.size(),
                unsigned(port));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}

// Writes a demo client installation with its Config.ini and list files:
//   NuvoDemoData FOLDER [PORT]      (PORT defaults to 8800)
//   NuvoDemoData FOLDER PORT --long-tail LIBRARIES --images N   (a large installation of libraries alone)
// Then `cd FOLDER && NuvoClientDaemon` serves it.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "support/DemoData.h"

int main(int argc, char** argv) {
  CLI::App app("Writes a demo client installation: libraries, maps and wavs below FOLDER/client, with the "
               "Config.ini and list files that serve them from FOLDER.",
               "NuvoDemoData");
  app.footer("Then `cd FOLDER && NuvoClientDaemon` serves it.");
  std::string folder;
  int port = 8800;
  app.add_option("FOLDER", folder, "where to write it (created when missing; files of the same names are replaced)")
      ->required();
  app.add_option("PORT", port, "the port Config.ini gives the server")->check(CLI::Range(1, 65535))->capture_default_str();
  int longTail = 0, images = 540;
  app.add_option("--long-tail", longTail, "write this many large libraries instead of the demo (the long-tail benchmark)")
      ->check(CLI::Range(1, 1000));
  app.add_option("--images", images, "images per library with --long-tail")->check(CLI::Range(1, 100000))->capture_default_str();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    std::cerr << app.help() << e.what() << "\n";
    return 2;
  }
  try {
    const TDemoData demo = longTail > 0 ? WriteLongTailData(folder, static_cast<uint16_t>(port), longTail, images)
                                        : WriteDemoData(folder, static_cast<uint16_t>(port));
    int count = 0;
    for (const TDemoLibrary& lib : demo.Libraries) count += lib.ImageCount;
    std::printf("demo installation in %s: %zu libraries (%d images), %zu maps, %zu wavs; port %d\n",
                demo.Folder.c_str(), demo.Libraries.size(), count, demo.Maps.size(), demo.Wavs.size(), port);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}

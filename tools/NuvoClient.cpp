// Client tool for operators and client developers: asks the resource server what a game client
// asks, with the deflate content coding, and checks every answer against its layout.
// Exit status: 0 when every answer is right, 1 when one is not or the server cannot be reached,
// 2 for a command line it cannot use.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/AsciiText.h"
#include "platform/CodePage.h"
#include "platform/ConsoleOut.h"
#include "platform/FileSystem.h"
#include "client/WClientProbe.h"
#include "platform/HUtil32.h"
#include "platform/ProgramArgs.h"

namespace {

void Say(const std::string& line) { WriteOutputLine(line); }

// A folder named in UTF-8 on every system (the C library's checks read the ANSI code page on
// Windows).
const CLI::Validator kExistingFolder(
    [](std::string& s) { return DirectoryExists(s) ? std::string() : "Directory does not exist: " + s; }, "DIR");

// An address the probe can ask, refused on the command line rather than on the first request.
const CLI::Validator kHttpAddress(
    [](std::string& url) {
      try {
        TWClientConnection probe(url);
      } catch (const std::invalid_argument& e) {
        return std::string(e.what());
      }
      return std::string();
    },
    "URL");

// --samples: a count of images per library, or "all".
const CLI::Validator kSampleCount(
    [](std::string& value) {
      if (value == "all" || (!value.empty() && value.size() < 10 && value.find_first_not_of("0123456789") == std::string::npos)) {
        return std::string();
      }
      return "not a number of images or \"all\": " + value;
    },
    "N|all");

// TYPE: any number, sent as it is (the server refuses those outside 1 to 5); text is not sent.
const CLI::Validator kTypeCode(
    [](std::string& value) {
      int n = 0;
      return CLI::detail::lexical_cast(value, n) ? std::string() : "not a number: " + value;
    },
    "");

int SampleCount(const std::string& value) { return value == "all" ? -1 : std::stoi(value); }

struct TGetArgs {
  std::string Url, Password, Dir, File, Image, Out;
  int Type = 0;
  bool Inflate = false, NoDeflate = false;
};

int Get(const TGetArgs& g) {
  const int nType = g.Type;
  const std::string image = AnsiFromUtf8(g.Image);
  TWClientConnection conn(g.Url);
  const std::string password = AnsiFromUtf8(g.Password);
  const std::string target = conn.Prefix() + WClientToken(password, AnsiFromUtf8(g.Dir) + "|" + AnsiFromUtf8(g.File) +
                                                                        (image.empty() ? "" : "|" + image)) +
                             "/" + std::to_string(nType) + ".html";
  const TWClientAnswer a = conn.Get(target, !g.NoDeflate);
  if (!a.Error.empty()) {
    std::fprintf(stderr, "%s\n", a.Error.c_str());
    return 1;
  }
  Say(target);
  Say(std::to_string(a.Status) + ", " + std::to_string(a.Body.size()) + " bytes (" + std::to_string(a.WireBytes) +
      " on the wire" + (a.Deflated ? ", deflate-coded)" : ")"));
  if (a.Status != 200) {
    Say(RefusalText(a));
    return 1;
  }
  std::string why, summary, payload = a.Body;
  if (nType == 1 || nType == 2) {
    if (SameTextAscii(image, "Header")) {
      THeaderSummary h;
      why = CheckHeaderPayload(a.Body, &h);
      summary = "header of a " + std::string(h.nType == 1 ? "WZL" : "JPK") + " library (kind " + std::to_string(h.nType) +
                ", version " + std::to_string(h.nVer) + "): " + std::to_string(h.ImageCount) + " images, index " +
                std::to_string(h.IndexBytes) + " bytes" + (h.IndexHash.empty() ? "" : ", index MD5 " + h.IndexHash);
    } else {
      TImageSummary s;
      const int32_t index = Str_ToInt(ExtractFileNameOnly(image), -1);
      why = CheckImagePayload(a.Body, index, 0, &s);
      char crc[16];
      std::snprintf(crc, sizeof crc, "%08X", s.Crc);
      summary = "image " + std::to_string(index) + ": " + s.Form + " record of kind " + std::to_string(s.nType) + ", " +
                std::to_string(s.nWidth) + "x" + std::to_string(s.nHeight) + ", " + std::to_string(s.nSize) + " bytes" +
                (s.Form == "full" ? std::string(", CRC-32 ") + crc + " matches" : std::string());
    }
  } else {
    std::string file;
    why = CheckStreamPayload(a.Body, &file);
    summary = "zlib stream of " + std::to_string(a.Body.size()) + " bytes, inflates to " + std::to_string(file.size()) + " bytes";
    if (g.Inflate) payload = file;
  }
  if (!why.empty()) {
    Say("FAIL " + why);
    return 1;
  }
  if (!g.Out.empty()) {
    WriteFileAtomic(g.Out, payload);
    Say("wrote " + std::to_string(payload.size()) + " bytes to " + g.Out);
  } else {
    Say(summary);
  }
  return 0;
}

int Indexes(const std::string& url, std::string token) {
  TWClientConnection conn(url);
  std::random_device rd;
  if (token.empty()) token = "nuvoclient-" + std::to_string(rd());
  const TWClientAnswer a = conn.Get(conn.Prefix() + token + "/check-indexes");
  if (!a.Error.empty()) {
    std::fprintf(stderr, "%s\n", a.Error.c_str());
    return 1;
  }
  if (a.Status != 200) {
    Say(RefusalText(a));
    return 1;
  }
  std::vector<std::pair<std::string, std::string>> rows;
  if (std::string why = CheckIndexTable(a.Body, &rows); !why.empty()) {
    Say("FAIL " + why);
    return 1;
  }
  for (const auto& [key, hash] : rows) Say(Utf8FromAnsi(key) + "|" + hash);
  return 0;
}

std::string DefaultUrl(const TDeployment& d) { return "http://127.0.0.1:" + std::to_string(d.Port) + "/wclientdat/"; }

int Check(const std::string& folder, const std::string& url, int samples) {
  const TDeployment d = ReadDeployment(folder);
  TWClientConnection conn(url.empty() ? DefaultUrl(d) : url);
  return CheckDeployment(conn, d, samples, Say) == 0 ? 0 : 1;
}

int Targets(const std::string& folder, const std::string& url, int samples) {
  const TDeployment d = ReadDeployment(folder);
  TWClientConnection conn(url.empty() ? DefaultUrl(d) : url);
  for (const std::string& t : DeploymentTargets(conn, d, samples)) Say(t);
  return 0;
}

int Mirror(const std::string& url, const std::string& dir) {
  TWClientConnection conn(url);
  size_t written = 0, bytes = 0, failed = 0;
  std::string target;
  while (std::getline(std::cin, target)) {
    if (target.empty()) continue;
    const TWClientAnswer a = conn.Get(target);
    if (!a.Error.empty() || a.Status != 200) {
      std::fprintf(stderr, "%s: %s\n", target.c_str(), a.Error.empty() ? RefusalText(a).c_str() : a.Error.c_str());
      ++failed;
      continue;
    }
    const std::string path = dir + target;
    ForceDirectories(ExtractFilePath(path));
    WriteFileAtomic(path, a.Body);
    ++written;
    bytes += a.Body.size();
  }
  Say(std::to_string(written) + " bodies, " + std::to_string(bytes) + " bytes written below " + dir +
      (failed ? ", " + std::to_string(failed) + " failed" : ""));
  return failed ? 1 : 0;
}

// A command line CLI11 refuses: the usage of the command at fault and the reason, status 2.
int Refused(const CLI::App& app, const CLI::ParseError& e, int argc, const char* const* argv) {
  if (e.get_exit_code() == 0) return app.exit(e);  // --help
  std::cerr << app.help();  // the chosen command's usage, when there is one
  if (app.get_subcommands().empty() && argc > 1 && argv[1][0] != '-') std::cerr << "unknown command: " << argv[1] << "\n";
  else std::cerr << e.what() << "\n";
  return 2;
}

}  // namespace

int main(int argc0, char** argv0) {
  const TProgramArguments args(argc0, argv0);
  const int argc = args.Count();
  const char* const* argv = args.Values();
  CLI::App app("Asks the resource server what a game client asks and checks every answer.", "NuvoClient");
  app.require_subcommand(1, 1);
  app.footer("URL is the server's address, e.g. http://127.0.0.1:8800/wclientdat/ (FOLDER's port by default).\n"
             "NuvoClient COMMAND --help describes a command.");

  TGetArgs g;
  CLI::App* get = app.add_subcommand("get", "Asks for one resource as a game client does and checks the answer; prints a "
                                            "summary, or writes the body to OUT");
  get->add_option("URL", g.Url, "server address")->required()->check(kHttpAddress);
  get->add_option("PASSWORD", g.Password, "the micro-client password (WClientPass)")->required();
  get->add_option("TYPE", g.Type, "1 or 2: library entry (IMAGE a number, or \"Header\"), 3: map, 4 or 5: wav")
      ->required()
      ->check(kTypeCode);
  get->add_option("DIR", g.Dir, "directory below the client directory, e.g. data or map\\mir")->required();
  get->add_option("FILE", g.File, "file name, e.g. hum.wzl")->required();
  get->add_option("IMAGE", g.Image, "image index or \"Header\" (library entries only)");
  get->add_option("-o,--out", g.Out, "write the body to this file");
  get->add_flag("--inflate", g.Inflate, "with -o: a map or wav as the file on disk");
  get->add_flag("--no-deflate", g.NoDeflate, "do not ask for the deflate content coding");

  std::string url, token, folder, dir, samples = "8", targetSamples = "all";
  CLI::App* indexes = app.add_subcommand("indexes", "Prints the rows of the index table (a token gets it once per 300 s)");
  indexes->add_option("URL", url, "server address")->required()->check(kHttpAddress);
  indexes->add_option("TOKEN", token, "the token to ask with (a fresh one by default)");

  CLI::App* check = app.add_subcommand("check", "Checks the deployment of FOLDER (its Config.ini and list files) against the "
                                                "server: every library header and N images of each, every map and wav; one "
                                                "verdict line each, exit status 1 when anything fails");
  check->add_option("FOLDER", folder, "the server's working directory")->required()->check(kExistingFolder);
  check->add_option("URL", url, "server address (by default the port of FOLDER's Config.ini on 127.0.0.1)")->check(kHttpAddress);
  check->add_option("--samples", samples, "images checked per library, or \"all\"")->check(kSampleCount)->capture_default_str();

  CLI::App* targets = app.add_subcommand("targets", "Prints the request targets of FOLDER's headers, images, maps and wavs");
  targets->add_option("FOLDER", folder, "the server's working directory")->required()->check(kExistingFolder);
  targets->add_option("URL", url, "server address (asked for the library headers)")->check(kHttpAddress);
  targets->add_option("--samples", targetSamples, "images per library, or \"all\"")->check(kSampleCount)->capture_default_str();

  CLI::App* mirror = app.add_subcommand("mirror", "Reads request targets from standard input and writes each answer's body "
                                                  "to DIR/TARGET");
  mirror->add_option("URL", url, "server address")->required()->check(kHttpAddress);
  mirror->add_option("DIR", dir, "where the bodies go")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return Refused(app, e, argc, argv);
  }
  try {
    if (get->parsed()) return Get(g);
    if (indexes->parsed()) return Indexes(url, token);
    if (check->parsed()) return Check(folder, url, SampleCount(samples));
    if (targets->parsed()) return Targets(folder, url, SampleCount(targetSamples));
    if (mirror->parsed()) return Mirror(url, dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 2;
}

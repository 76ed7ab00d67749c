// Client tool for operators and client developers: asks the resource server what a game client
// asks, with the deflate content coding, and checks every answer against its layout.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "platform/AsciiText.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "client/WClientProbe.h"
#include "platform/HUtil32.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  NuvoClient get URL PASSWORD TYPE DIR FILE [IMAGE] [-o OUT] [--inflate] [--no-deflate]\n"
    "      asks for one resource as a game client does (TYPE 1 or 2: library entry or IMAGE\n"
    "      \"Header\", 3: map, 4 or 5: wav) and checks the answer; prints a summary, or writes\n"
    "      the body to OUT (--inflate: a map or wav as the file on disk)\n"
    "  NuvoClient indexes URL [TOKEN]\n"
    "      prints the rows of the index table (a token gets it once per 300 s)\n"
    "  NuvoClient check FOLDER [URL] [--samples N]\n"
    "      checks the deployment of FOLDER (its Config.ini and list files) against the server:\n"
    "      every library header and N images of each (default 8), every map and wav; one verdict\n"
    "      line each, exit status 1 when anything fails\n"
    "  NuvoClient targets FOLDER [URL] [--samples N|all]\n"
    "      prints the request targets of FOLDER's headers, images, maps and wavs\n"
    "  NuvoClient mirror URL DIR\n"
    "      reads request targets from standard input and writes each answer's body to DIR/TARGET\n"
    "URL is the server's address, e.g. http://127.0.0.1:8800/wclientdat/ (FOLDER's port by default).\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

void Say(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Takes "--name value" (or "-o value") out of `args`.
bool TakeOption(std::vector<std::string>& args, const std::string& name, std::string& value) {
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == name) {
      value = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      return true;
    }
  }
  return false;
}

bool TakeFlag(std::vector<std::string>& args, const std::string& name) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      args.erase(args.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

// What a refusal's error page names, or the status.
std::string Refusal(const TWClientAnswer& a) {
  const size_t at = a.Body.find("Error Code: ");
  if (a.Status == 404 && at != std::string::npos) {
    return "refused, " + a.Body.substr(at, a.Body.find('\r', at) - at);
  }
  if (a.Status == 400 && a.Body.empty()) return "no answer (400): an image request needs an image";
  return "status " + std::to_string(a.Status);
}

int Get(std::vector<std::string> args) {
  std::string outFile;
  const bool hasOut = TakeOption(args, "-o", outFile);
  const bool inflate = TakeFlag(args, "--inflate");
  const bool deflate = !TakeFlag(args, "--no-deflate");
  if (args.size() < 5 || args.size() > 6) return Usage();
  const int nType = Str_ToInt(args[2], 0);
  const std::string image = args.size() == 6 ? AnsiFromUtf8(args[5]) : std::string();
  TWClientConnection conn(args[0]);
  const std::string password = AnsiFromUtf8(args[1]);
  const std::string target = conn.Prefix() + WClientToken(password, AnsiFromUtf8(args[3]) + "|" + AnsiFromUtf8(args[4]) +
                                                                        (image.empty() ? "" : "|" + image)) +
                             "/" + std::to_string(nType) + ".html";
  const TWClientAnswer a = conn.Get(target, deflate);
  if (!a.Error.empty()) {
    std::fprintf(stderr, "%s\n", a.Error.c_str());
    return 1;
  }
  Say(target);
  Say(std::to_string(a.Status) + ", " + std::to_string(a.Body.size()) + " bytes (" + std::to_string(a.WireBytes) +
      " on the wire" + (a.Deflated ? ", deflate-coded)" : ")"));
  if (a.Status != 200) {
    Say(Refusal(a));
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
    if (inflate) payload = file;
  }
  if (!why.empty()) {
    Say("FAIL " + why);
    return 1;
  }
  if (hasOut) {
    WriteFileAtomic(outFile, payload);
    Say("wrote " + std::to_string(payload.size()) + " bytes to " + outFile);
  } else {
    Say(summary);
  }
  return 0;
}

int Indexes(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) return Usage();
  TWClientConnection conn(args[0]);
  std::random_device rd;
  const std::string token = args.size() == 2 ? args[1] : "nuvoclient-" + std::to_string(rd());
  const TWClientAnswer a = conn.Get(conn.Prefix() + token + "/check-indexes");
  if (!a.Error.empty()) {
    std::fprintf(stderr, "%s\n", a.Error.c_str());
    return 1;
  }
  if (a.Status != 200) {
    Say(Refusal(a) + (a.Body.find("Error Code: -99") != std::string::npos ? " (this token had the table less than 300 s ago)" : ""));
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

int Samples(std::vector<std::string>& args, int def) {
  std::string value;
  if (!TakeOption(args, "--samples", value)) return def;
  return value == "all" ? -1 : std::max(0, Str_ToInt(value, def));
}

std::string DefaultUrl(const TDeployment& d) { return "http://127.0.0.1:" + std::to_string(d.Port) + "/wclientdat/"; }

int Check(std::vector<std::string> args) {
  const int samples = Samples(args, 8);
  if (args.empty() || args.size() > 2) return Usage();
  const TDeployment d = ReadDeployment(args[0]);
  TWClientConnection conn(args.size() == 2 ? args[1] : DefaultUrl(d));
  return CheckDeployment(conn, d, samples, Say) == 0 ? 0 : 1;
}

int Targets(std::vector<std::string> args) {
  const int samples = Samples(args, -1);
  if (args.empty() || args.size() > 2) return Usage();
  const TDeployment d = ReadDeployment(args[0]);
  TWClientConnection conn(args.size() == 2 ? args[1] : DefaultUrl(d));
  for (const std::string& t : DeploymentTargets(conn, d, samples)) Say(t);
  return 0;
}

int Mirror(const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage();
  TWClientConnection conn(args[0]);
  size_t written = 0, bytes = 0, failed = 0;
  std::string target;
  while (std::getline(std::cin, target)) {
    if (target.empty()) continue;
    const TWClientAnswer a = conn.Get(target);
    if (!a.Error.empty() || a.Status != 200) {
      std::fprintf(stderr, "%s: %s\n", target.c_str(), a.Error.empty() ? Refusal(a).c_str() : a.Error.c_str());
      ++failed;
      continue;
    }
    const std::string path = args[1] + target;
    ForceDirectories(ExtractFilePath(path));
    WriteFileAtomic(path, a.Body);
    ++written;
    bytes += a.Body.size();
  }
  Say(std::to_string(written) + " bodies, " + std::to_string(bytes) + " bytes written below " + args[1] +
      (failed ? ", " + std::to_string(failed) + " failed" : ""));
  return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  try {
    if (command == "get") return Get(args);
    if (command == "indexes") return Indexes(args);
    if (command == "check") return Check(args);
    if (command == "targets") return Targets(args);
    if (command == "mirror") return Mirror(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return Usage();
}

// The whole request path from the bytes a socket delivers to the bytes of the answer: the parser
// with its limits, the request context, the handler over a catalogue of a demo installation held
// in memory, the content coding and the response head. The answer must hold what a game client
// relies on: a refused request is 404 with its page or 400 with no body; an image answer's record
// carries the CRC-32 of its bytes; a header block, map, wav and the index table have their layout;
// a coded body inflates to the plain one.
//
// Input: as http_request_fuzz (byte 0 picks the cut, then the request bytes). Seeds: fuzz_seeds.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "app/ProgramSettings.h"
#include "FuzzRequest.h"
#include "FuzzSupport.h"
#include "catalogue/uGameLib.h"
#include "client/WClientProbe.h"
#include "formats/MD5.h"
#include "formats/ZStream.h"
#include "platform/FileSystem.h"
#include "platform/ReadFile.h"
#include "service/FrontEndCoding.h"
#include "service/WClientRequest.h"
#include "service/uHttpServer.h"
#include "settings/TarnShare.h"
#include "support/DemoData.h"
#include "support/TempDir.h"

namespace {

using fuzz::Check;

constexpr std::string_view kRoot = "/wclientdat/";

// The demo installation, written once to a scratch folder and taken into memory; the catalogue
// then reads nothing from disk.
struct TInstallation {
  TInstallation() {
    InitSharedState();
    TLoadLists lists;
    {
      TempDir folder(false);
      const TDemoData demo = WriteDemoData(folder.Path(), 8800);
      lists.SearchDir = demo.ClientDir;
      for (const TDemoLibrary& lib : demo.Libraries) {
        Take(lib.Path);
        if (lib.Mode == TImageMode::Tarn2Wzl) {
          Take(FindFileNoCase(OsFiles(), ExtractFilePath(lib.Path), std::filesystem::path(lib.Path).stem().string() + ".wzx"));
          lists.Wzl.push_back(lib.Path);
        } else {
          lists.Jpk.emplace_back(lib.Path, lib.PassWord);
        }
      }
      for (const TDemoFile& f : demo.Maps) lists.Maps.push_back(Take(f.Path));
      for (const TDemoFile& f : demo.Wavs) lists.Wavs.push_back(Take(f.Path));
    }
    Lib = std::make_shared<TGameLib>(true, OperatorLog(), Files);
    Lib->LoadGameLib(lists);
    g_ErrorList.Drain();
    Server = std::make_unique<TNuvoHttpServer>(Lib, ServiceSettingsOfSettings(), OperatorLog(), [this] { return Tick; });
    Key = MD5String(g_sWClientPass);
  }

  std::string Take(const std::string& path) {
    Files.Put(path, ReadFileBytes(path));
    return path;
  }

  TMemoryFiles Files;
  std::shared_ptr<TGameLib> Lib;
  std::unique_ptr<TNuvoHttpServer> Server;
  std::array<uint8_t, 16> Key{};
  uint64_t Tick = 1000000;
};

// A client check's complaint is printed before the trap, so a finding says what was wrong.
void CheckClean(const std::string& complaint) {
  if (complaint.empty()) return;
  std::fprintf(stderr, "answer refused by the client's check: %s\n", complaint.c_str());
  __builtin_trap();
}

// What a 200 answer must be for the kind of request it answers; an empty one says the catalogue
// holds nothing under the key.
void CheckAnswer(const TWClientRequest& request, const std::string& body) {
  if (body.empty()) return;
  switch (request.Kind) {
    case TWClientRequestKind::Image:
      CheckClean(CheckImagePayload(body, request.nIndex, 0, nullptr));
      break;
    case TWClientRequestKind::Header:
      CheckClean(CheckHeaderPayload(body, nullptr));
      break;
    case TWClientRequestKind::Map:
    case TWClientRequestKind::Wav:
      CheckClean(CheckStreamPayload(body, nullptr));
      break;
    case TWClientRequestKind::CheckIndexes:
      CheckClean(CheckIndexTable(body, nullptr));
      break;
    case TWClientRequestKind::Refused:
    case TWClientRequestKind::NoImageField:
      Check(false);  // never answered 200
  }
}

// The work log gets one line per refusal; each is checked and the file removed again.
void CheckWorkLog(const TNuvoHttpServer& server, uint32_t status) {
  if (!FileExists(server.WorkLogsFile())) return;
  const std::string line = ReadFileBytes(server.WorkLogsFile());
  std::filesystem::remove(server.WorkLogsFile());
  Check(status == 404);
  Check(line.size() >= 2 && line.find_first_of("\r\n") == line.size() - 2 && line.ends_with("\r\n"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  fuzz::TInScratchDir here;
  static TInstallation inst;
  THttpRequestParser parser;
  const fuzz::TParsedRequest parsed = fuzz::ParseInput(data, size, parser);
  TResponseHead head;
  if (parsed.Error) {
    head.Status = StatusForParseError(parsed.Error);
    head.Close = true;
    Check(head.Status == 400 || head.Status == 413 || head.Status == 431);
    Check(fuzz::EndsWithBlankLine(BuildResponseHead(head)));
    return 0;
  }
  if (!parsed.Done) return 0;
  const auto& req = parser.get();
  THttpServerRequest ctxt;
  FillRequestContext(req, "127.0.0.1", ctxt);
  head.Status = 404;
  if (TargetUnderRoot(ctxt.URL, kRoot)) {
    inst.Tick += 1000;
    // As the front end: the event loop answers what needs no file, a worker the rest.
    head.Status = inst.Server->ProcessInMemory(ctxt);
    if (head.Status == kHttpNeedsWorker) head.Status = ctxt.WorkerAnswer(ctxt);
    Check(head.Status == 200 || head.Status == 400 || head.Status == 404);
    CheckWorkLog(*inst.Server, head.Status);
    if (head.Status == 400) Check(ResponseBody(ctxt).empty() && ctxt.OutContentType.empty());
    if (head.Status == 200) CheckAnswer(ParseWClientRequest(ctxt.URL, inst.Key), std::string(ResponseBody(ctxt)));
  }

  const std::string_view plain = ResponseBody(ctxt);
  std::string_view body = plain;
  std::string scratch;
  head.ContentType = ctxt.OutContentType;
  head.AcceptEncodingNames = CompressDeflate.Name;
  if (!body.empty() && !ctxt.OutContentType.empty() && IsCompressibleType(ctxt.OutContentType) &&
      AcceptEncodingLists(fuzz::AcceptEncodingOf(req), CompressDeflate.Name)) {
    // A shared body may bring its coded form made once, as the front end sends it.
    if (ctxt.OutBody) {
      body = ctxt.OutBody->Coded(CompressDeflate, scratch);
    } else {
      scratch = CompressDeflate.Encode(plain);
      body = scratch;
    }
    const std::optional<std::string> back = ZlibInflate(body, true);
    Check(back && *back == plain);
    head.ContentEncoding = CompressDeflate.Name;
  }
  head.ContentLength = body.size();
  const std::string out = BuildResponseHead(head);
  Check(fuzz::EndsWithBlankLine(out));
  Check(out.find("Content-Length: " + std::to_string(body.size()) + "\r\n") != std::string::npos);
  return 0;
}

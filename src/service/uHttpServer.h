// The request service: the service object that owns the HTTP front end and answers every request
// (index table, images, headers, maps, wavs, refusals), the work log of refused requests and the
// error page that answers them.
// Threads: the service object is created, opened and destroyed by the thread that starts and stops
// the service (the owner serialises those); Process runs on every HTTP worker at once.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "service/BodyCache.h"
#include "http/HttpApiServer.h"
#include "service/WClientRequest.h"

class TGameLib;

// What a service object takes from the settings when it is created.
struct TServiceSettings {
  std::string WClientPass;      // code page 936; its MD5 is the token key
  uint16_t Port = 8800;
  uint16_t MaxBandwidth = 100;  // megabytes per second for all connections together
  std::string ListenHost = "+";  // the interface address to bind; "+" every interface
};
// The settings as they stand, read under g_ConfigLock (the settings dialog may be saving them).
TServiceSettings CurrentServiceSettings();

// The vendor's web host, named in the error page and in the start line of the console and daemon.
inline constexpr char kVendorHost[] = "www.nuvoclient.example";
inline constexpr char kVendorUrl[] = "https://www.nuvoclient.example";

// One work-log file: a line per call, appended in the order the calls take the lock, so lines are
// never interleaved or lost and no writer fails because another one holds the file.
class TWorkLog {
 public:
  explicit TWorkLog(std::string fileName) : WorkLogsFile(std::move(fileName)) {}
  const std::string& FileName() const { return WorkLogsFile; }
  // Appends "<date> <time> <msg>" and CR LF in code page 936; `msg` is UTF-8.
  // Throws EInOutError when the file cannot be opened or written.
  void LogsOut(const std::string& msg);

 private:
  const std::string WorkLogsFile;
  std::mutex FLock;
};

// The body of every refused request, 8-bit text: two lines, or three with "Error Code: <nCode>"
// when nCode is not 0, each ending in CR LF.
std::string GetErrorMsg(int32_t nCode);

// Milliseconds of a monotonic clock; replaceable so tests need not wait out the throttle.
using TTickSource = std::function<uint64_t()>;

class TNuvoHttpServer {
 public:
  // The index-table request of one token is answered once per this many milliseconds.
  static constexpr int64_t kCheckIndexesInterval = 300000;
  // A request that fails with the same error as the last one logged is logged again only after
  // this many milliseconds.
  static constexpr int64_t kErrorLogInterval = 60000;

  // Takes the index table from the catalogue now and the token key from the password, names the
  // work-log file after the current time and creates ./Logs; the front end runs without an address.
  // Port, cap and interface are the defaults of Open().
  TNuvoHttpServer(std::shared_ptr<TGameLib> GameLib, const TServiceSettings& Settings,
                  TTickSource Tick = nullptr, THttpServerLimits Limits = {});
  // Stops the front end and waits for its workers; g_boStart false.
  ~TNuvoHttpServer();
  TNuvoHttpServer(const TNuvoHttpServer&) = delete;
  TNuvoHttpServer& operator=(const TNuvoHttpServer&) = delete;

  // Registers the address and starts the 32 workers; queues the start line, or the start-failure
  // line when no address could be registered (port 0 included). Returns the registered address
  // ("+" written as 127.0.0.1), empty when the service does not answer requests.
  std::string Open() { return Open(FSettings); }
  // The same with the port, cap and interface as they stand now: a start command that retries a
  // failed start takes a port the operator has changed since the object was made.
  std::string Open(const TServiceSettings& Settings);
  // The request handler; any worker thread. Answers 200, 404 (refusals and the throttled index
  // table) or 400 with no body (a library entry asked for without an image field). Answers with
  // bytes of the catalogue or the index table come as OutBody, shared, never copied.
  uint32_t Process(THttpServerRequest& Ctxt);
  // The same answer when it needs no wait (index table, maps, wavs, kept images and headers, an
  // absent library, images whose bytes the page cache holds); kHttpNeedsWorker otherwise. Never
  // blocks: the front end's event loops call it.
  uint32_t ProcessInMemory(THttpServerRequest& Ctxt);
  void LogsOut(const std::string& msg) { FWorkLog.LogsOut(msg); }

  const std::string& WorkLogsFile() const { return FWorkLog.FileName(); }
  uint16_t BoundPort() const { return NuvoServer->BoundPort(); }
  size_t OpenConnections() const { return NuvoServer->OpenConnections(); }
  uint32_t MaxBandwidth() const { return NuvoServer->MaxBandwidth(); }
  size_t CheckIndexesCount() const;

 private:
  uint32_t Answer(THttpServerRequest& Ctxt, bool mayBlock);
  // The detail of a failed request, for the operator log; the client's 500 page names none.
  void LogHandlerError(const std::string& url, const std::exception& e);
  THttpBodyRef LibraryBody(const TWClientRequest& request, bool mayBlock);
  THttpBodyRef StoredFileBody(const TWClientRequest& request);
  std::optional<std::vector<std::string>> StaleLibraryBodies(uint64_t since) const;
  uint32_t Refuse(THttpServerRequest& Ctxt, int32_t nCode, const std::string& logLine);
  uint32_t AnswerCheckIndexes(THttpServerRequest& Ctxt, const std::string& sEncode);
  void SweepCheckIndexes(int64_t now);

  std::shared_ptr<TGameLib> FGameLib;
  const TServiceSettings FSettings;
  std::string FUrl;  // the registered address once open
  TTickSource FTick;
  std::array<uint8_t, 16> KeyPassBytes{};
  TWorkLog FWorkLog;
  std::string CompressIndexesTables;
  THttpBodyRef FIndexBody;  // CompressIndexesTables with its coded form, made once
  TBodyCache FBodies;
  mutable std::mutex FCheckLock;
  std::unordered_map<std::string, int64_t> CheckIndexesTime;
  std::mutex FErrorLock;
  std::string FLastError;  // under FErrorLock, with the tick it was logged at
  int64_t FLastErrorTick = 0;
  size_t FSweepAt;
  std::unique_ptr<THttpApiServer> NuvoServer;  // last: released first, so no worker outlives the rest
};

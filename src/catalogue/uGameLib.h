// The resource catalogue: the opened image libraries and the map and wav files held as zlib
// streams, each under its key (the path below the client directory, "\"-separated, A-Z lowered,
// code page 936), together with the loader thread that fills it from the resource lists.
//
// Threads: lookups and payload assembly may run on any number of threads at once while the loader
// thread builds the next catalogue aside and the window thread unloads. A pass puts its catalogue in
// place in one step when it completes, so requests are answered from the one before until then.
// A lookup holds the map lock only for the probe; the entry it returns stays alive through shared
// ownership until the caller drops it, so a released entry is never used.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "catalogue/PassReport.h"
#include "platform/ReadFile.h"
#include "settings/ResourceList.h"

class TFileWatch;
class TWMImages;

// Bytes of the library files, maps and wavs of the catalogue served: set when a pass puts its
// catalogue in place, left as it is by an unload (any thread).
extern std::atomic<uint64_t> g_nDataMemory;

// One map or wav file as stored: a zlib stream of the whole file.
struct TNuvoBuffer {
  int32_t nSize = 0;
  std::string Buffer;     // the zlib stream, nSize bytes
  std::string Deflated;   // Buffer as raw deflate at level 1, made once for clients that accept it
  std::string sFileName;  // full path as written in the list
};

// The key text of a listed file (UTF-8, before the conversion to code page 936): the path with
// every occurrence of the client directory removed, A-Z lowered and, for a file below the client
// directory, "/" written as "\". Other files keep "/", so no request's key matches theirs.
std::string CatalogueKeyText(const std::string& sFileName, const std::string& sSearchDir);

// What one load pass reads, copied when the pass is asked for so that the loader never reads the
// settings the window may be editing.
struct TLoadLists {
  std::string SearchDir;                                  // client installation root (UTF-8)
  std::vector<std::pair<std::string, std::string>> Jpk;  // library path -> password
  std::vector<std::string> Wzl;
  std::vector<std::string> Maps;
  std::vector<std::string> Wavs;

  // Lines of one list, empty ones included.
  size_t Size(TResourceList list) const {
    switch (list) {
      case TResourceList::Jpk: return Jpk.size();
      case TResourceList::Wzl: return Wzl.size();
      case TResourceList::Map: return Maps.size();
      case TResourceList::Wav: return Wavs.size();
    }
    return 0;
  }
};
// The client directory and the four lists as they stand, copied under g_ConfigLock.
TLoadLists CurrentLoadLists();

using TPassEnded = std::function<void(const TPassReport& report)>;
using TPassFailed = std::function<void(const std::string& reason)>;  // the logged reason, UTF-8
using TBackShow = std::function<void(const std::string& sMsg)>;  // code page 936 text

class TGameLib {
 public:
  // Suspended: the thread starts at Resume(). Nothing loads until LoadLib is set.
  // The listed files are read through `files`, which must outlive the catalogue.
  explicit TGameLib(bool CreateSuspended, const TFileSource& files = OsFiles());
  // Ends the thread (a pass under way runs to its end first), then clears.
  ~TGameLib();
  TGameLib(const TGameLib&) = delete;
  TGameLib& operator=(const TGameLib&) = delete;

  void Resume();
  void Terminate();
  // Makes a pass under way stop before its next file and store nothing, and every later pass too;
  // for a prompt exit. Any thread.
  void AbandonPasses();
  // Threads of a load pass: 0 (the default) one per core. Set before passes run.
  void SetLoadThreads(unsigned n) { FLoadThreads = n; }

  // Callbacks run on the loader thread. DetachCallbacks returns once no callback runs and none will
  // start; callbacks therefore must not wait for the thread that detaches them.
  // After a pass put its catalogue in place, with its report.
  void SetBackLoad(TPassEnded f);
  // After a pass that failed (its lines logged), with the reason: the catalogue before stays in
  // use, or, where there was none, what the pass stored before the failure is served.
  void SetPassFailed(TPassFailed f);
  void SetShowLabel(TBackShow f);
  void DetachCallbacks();

  // Asks for a load pass of `Lists`; several requests during one pass give one further pass, of
  // the lists of the last request.
  void SetLoadLib(TLoadLists Lists);
  bool LoadLib() const { return FLoadLib.load(); }
  // A pass asked for or under way (its load-finished call included). Any thread.
  bool PassUnderWay() const { return FLoadLib.load() || FPassRunning.load(); }

  // Releases every library, map and wav entry (readers still holding one keep it alive). The
  // index rows stay.
  void Clear();

  // Changes whenever an entry is stored, the catalogue is cleared, or a served library's file or
  // index file changes on disk: whatever was made from the entries under an older value may be stale.
  uint64_t Generation() const { return FGeneration.load(std::memory_order_acquire); }
  // The keys of the libraries whose files changed on disk after generation `since`; nothing when
  // the catalogue as a whole was replaced or cleared since then (everything may be stale).
  std::optional<std::vector<std::string>> LibrariesChangedSince(uint64_t since) const;

  std::shared_ptr<TWMImages> GetLib(const std::string& sFileName) const;
  std::shared_ptr<const TNuvoBuffer> GetMap(const std::string& sFileName) const;
  std::shared_ptr<const TNuvoBuffer> GetWav(const std::string& sFileName) const;

  // Response bodies; empty when the catalogue has nothing for the request. An image body is its
  // 64-byte record and then its bytes.
  std::string GetHeaderBuff(const std::string& sFileName) const;
  std::string GetImageBuff(const std::string& sFileName, int32_t nIndex) const;
  // The same answer when it needs no wait (no other reader of the library, the bytes in the page
  // cache); nothing when it would wait, and GetImageBuff gives the answer then.
  std::optional<std::string> GetImageBuffNoWait(const std::string& sFileName, int32_t nIndex) const;
  std::string GetMapBuff(const std::string& sFileName) const;
  std::string GetWavBuff(const std::string& sFileName) const;

  // The index table: rows "key|hash" CR LF in code page 936, as one zlib stream (level 4).
  std::string GetIndexes() const;
  // The report of the pass whose catalogue is served (Complete false for a failed pass put in place
  // where there was none); null before the first pass.
  std::shared_ptr<const TPassReport> LastPass() const;
  // The index rows as "key=hash" text (UTF-8), in order.
  std::vector<std::string> IndexRows() const;

  // One load pass, on the calling thread (the loader thread runs it): opens, reads and compresses
  // the listed files on a pool of threads, logs and stores them in list order into a new catalogue
  // and puts that in place when the pass completes. Returns what became of every listed entry
  // (Complete false when the pass was abandoned and stored nothing). Throws ELoadPassError when a
  // file cannot be read; the catalogue served before then stays, and where none was, what the pass
  // stored before that file is served.
  TPassReport LoadGameLib(const TLoadLists& Lists);

 private:
  using TLibMap = std::unordered_map<std::string, std::shared_ptr<TWMImages>>;
  using TBufferMap = std::unordered_map<std::string, std::shared_ptr<const TNuvoBuffer>>;
  struct TMaps {
    TLibMap m_LibList;
    TBufferMap m_MapList;
    TBufferMap m_WavList;
  };
  struct TPass;

  void Execute();
  void ShowLoadLabel(const std::string& sMsg);
  void CallBackLoad(const TPassReport& report);
  void CallPassFailed(const std::string& reason);
  void SetIndexRow(const std::string& sName, const std::string& hash);
  void ShowProgress(const std::string& sName, size_t I, size_t ProgressMax);
  void EnterPhase(int phase, const TLoadLists& Lists);
  void CommitEntry(TPass& pass, size_t i);
  void PutInPlace(TPass& pass, bool complete);
  void WatchLibraries();
  void ReportChangedLibraries();
  void LibraryChanged(const std::string& key);
  static std::string CopyBuffer(const std::shared_ptr<const TNuvoBuffer>& entry);

  const TFileSource& FFiles;

  // Loader state.
  std::atomic<bool> FLoadLib{false};
  std::atomic<bool> FPassRunning{false};
  std::atomic<bool> Terminated{false};
  std::atomic<bool> FAbandon{false};
  unsigned FLoadThreads = 0;
  // The files of the libraries put in place last (data and index file); each library's change is
  // told once, and drops what was made from it every time.
  std::mutex watchMutex_;
  std::unique_ptr<TFileWatch> FWatch;
  std::unordered_map<std::string, std::string> FWatchedKeys;  // path -> catalogue key
  std::unordered_set<std::string> FToldKeys;
  TLoadLists FPendingLists;  // under wakeMutex_: the lists of the pass asked for
  std::mutex wakeMutex_;
  std::condition_variable wake_;
  std::thread thread_;
  bool started_ = false;

  // Callbacks; held while one runs so DetachCallbacks can wait for it.
  std::mutex callbackMutex_;
  TPassEnded FTBackLoad;
  TPassFailed FTPassFailed;
  TBackShow FTBackShow;

  // Index rows "name=hash", kept across passes and Clear.
  mutable std::mutex indexMutex_;
  std::vector<std::string> m_Indexes;

  // The three maps served; the lock is held only to probe or to swap them.
  mutable std::shared_mutex mapMutex_;
  std::atomic<uint64_t> FGeneration{1};  // raised under mapMutex_ after each change of the maps
  TMaps FMaps;
  std::shared_ptr<const TPassReport> FLastPass;  // under mapMutex_, swapped in with FMaps
  bool FInPlace = false;  // under mapMutex_: a completed pass's catalogue is served (no unload since)
  // Under mapMutex_: the generation that replaced or cleared the maps, and the libraries changed on
  // disk since then with the generation each change raised.
  uint64_t FReplacedAt = 1;
  std::vector<std::pair<uint64_t, std::string>> FLibraryChanges;
};

// A load pass that could not read a listed file: names the file and the reason, with the report
// of the pass up to that file (its last entry the Unreadable one).
class ELoadPassError : public std::runtime_error {
 public:
  ELoadPassError(std::string fileName, const std::string& reason)
      : std::runtime_error(reason), FileName(std::move(fileName)) {}
  std::string FileName;
  TPassReport Report;
};

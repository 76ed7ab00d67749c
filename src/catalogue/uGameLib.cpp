#include "catalogue/uGameLib.h"

#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "catalogue/OrderedWork.h"
#include "formats/Jpk.h"
#include "formats/WIL.h"
#include "formats/ZStream.h"
#include "formats/Wzl.h"
#include "platform/AsciiText.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/FileWatch.h"
#include "platform/ReadFile.h"
#include "platform/HUtil32.h"
#include "settings/TarnShare.h"

std::atomic<uint64_t> g_nDataMemory{0};

namespace {

std::string CountLine(const char* text, size_t n) { return text + std::string(" [") + std::to_string(n) + "]"; }

// The phases of a pass: one per list, in the lists' order, then the end.
int PhaseOf(TResourceList list) { return static_cast<int>(list); }
constexpr int kPassDone = static_cast<int>(kResourceLists);

// One list entry as a pool thread made it, waiting to be stored in list order.
struct TLoadEntry {
  const std::string* FileName = nullptr;
  const std::string* PassWord = nullptr;
  // What the pool thread made of it: its report record (Path, Key, State, ...) and what to store.
  TPassEntry Report;
  std::string Refusal;   // Refused: the line to log instead of storing
  std::shared_ptr<TWMImages> Lib;
  std::shared_ptr<TNuvoBuffer> Buffer;
  std::optional<std::string> IndexHash;  // JPK libraries only
};

// Each pool thread reads every map and wav of its share into one buffer.
struct TScratch {
  std::string Read;
  std::string Zip;
};

void Refuse(TLoadEntry& e, TRefusal why, const char* line) {
  e.Report.State = TEntryState::Refused;
  e.Report.Refusal = why;
  e.Refusal = e.Report.Key + line;
}

void OpenLibrary(TLoadEntry& e, const TFileSource& files) {
  const bool jpkList = e.Report.List == TResourceList::Jpk;
  if (jpkList && e.PassWord->empty()) return Refuse(e, TRefusal::NoPassword, " Jpk密码不能为空！");
  std::shared_ptr<TWMImages> lib = InitializeGameImage(*e.FileName, jpkList ? *e.PassWord : "", true, files);
  if (!lib) return Refuse(e, TRefusal::NoLibrary, jpkList ? " Jpk文件不存在！" : " Wzl资源文件异常！");
  const auto* jpk = jpkList ? dynamic_cast<const TJpkLib*>(lib.get()) : nullptr;
  // On return the library is released, and its file closed.
  if (jpk && !jpk->PasswordOk()) return Refuse(e, TRefusal::WrongPassword, " Jpk密码错误！");
  // The table lists JPK libraries only: a WZL library named in the JPK list is served but
  // published nowhere.
  if (jpk) e.IndexHash = lib->IndexesHash();
  e.Report.State = TEntryState::Stored;
  e.Report.Bytes = lib->FileSize();
  e.Lib = std::move(lib);
}

void ReadAndCompress(TLoadEntry& e, TScratch& scratch, const TFileSource& files) {
  ReadWholeFile(files, *e.FileName, scratch.Read);
  auto entry = std::make_shared<TNuvoBuffer>();
  entry->sFileName = *e.FileName;
  entry->Buffer = ZlibCompress(scratch.Read, 2, &scratch.Zip);
  entry->nSize = static_cast<int32_t>(entry->Buffer.size());
  entry->Deflated = RawDeflate(entry->Buffer, 1);
  e.Report.State = TEntryState::Stored;
  e.Report.Bytes = entry->Buffer.size();
  e.Buffer = std::move(entry);
}

// Pool thread: everything about one entry that needs no order. A file that cannot be read is
// recorded Unreadable; the pass fails when that entry's turn comes.
void MakeEntry(TLoadEntry& e, const std::string& searchDir, TScratch& scratch, const TFileSource& files) {
  if (!files.Exists(*e.FileName)) return;  // Missing: nothing to say
  e.Report.Key = CatalogueKeyText(*e.FileName, searchDir);
  try {
    if (e.Report.List == TResourceList::Jpk || e.Report.List == TResourceList::Wzl) {
      OpenLibrary(e, files);
    } else {
      ReadAndCompress(e, scratch, files);
    }
  } catch (const std::exception& error) {
    e.Report.State = TEntryState::Unreadable;
    e.Report.Error = error.what();
    e.Lib.reset();
    e.Buffer.reset();
  }
}

}  // namespace

TGameLib::TGameLib(bool CreateSuspended, const TFileSource& files) : FFiles(files) {
  if (!CreateSuspended) Resume();
}

TGameLib::~TGameLib() {
  Terminate();
  if (thread_.joinable()) thread_.join();
  Clear();
}

void TGameLib::Resume() {
  std::lock_guard lock(wakeMutex_);
  if (started_) return;
  started_ = true;
  thread_ = std::thread([this] { Execute(); });
}

void TGameLib::Terminate() {
  {
    std::lock_guard lock(wakeMutex_);
    Terminated = true;
  }
  wake_.notify_all();
}

void TGameLib::SetBackLoad(TPassEnded f) {
  std::lock_guard lock(callbackMutex_);
  FTBackLoad = std::move(f);
}

void TGameLib::SetPassFailed(TPassFailed f) {
  std::lock_guard lock(callbackMutex_);
  FTPassFailed = std::move(f);
}

void TGameLib::SetShowLabel(TBackShow f) {
  std::lock_guard lock(callbackMutex_);
  FTBackShow = std::move(f);
}

void TGameLib::DetachCallbacks() {
  std::lock_guard lock(callbackMutex_);
  FTBackLoad = nullptr;
  FTPassFailed = nullptr;
  FTBackShow = nullptr;
}

void TGameLib::SetLoadLib(TLoadLists Lists) {
  {
    std::lock_guard lock(wakeMutex_);
    FPendingLists = std::move(Lists);
    FLoadLib = true;
  }
  wake_.notify_all();
}

void TGameLib::ShowLoadLabel(const std::string& sMsg) {
  std::lock_guard lock(callbackMutex_);
  if (FTBackShow) FTBackShow(sMsg);
}

void TGameLib::CallBackLoad(const TPassReport& report) {
  std::lock_guard lock(callbackMutex_);
  if (FTBackLoad) FTBackLoad(report);
}

void TGameLib::CallPassFailed(const std::string& reason) {
  std::lock_guard lock(callbackMutex_);
  if (FTPassFailed) FTPassFailed(reason);
}

void TGameLib::AbandonPasses() { FAbandon = true; }

void TGameLib::Execute() {
  for (;;) {
    TLoadLists lists;
    {
      std::unique_lock lock(wakeMutex_);
      // Waiting on the flag instead of polling every millisecond keeps an idle loader at almost no
      // cost; it wakes twice a second to look for changed library files.
      if (!wake_.wait_for(lock, std::chrono::milliseconds(500),
                          [this] { return Terminated.load() || FLoadLib.load(); })) {
        lock.unlock();
        ReportChangedLibraries();
        continue;
      }
      if (Terminated) return;
      FPassRunning = true;  // before the request flag goes, so that one of the two is always seen
      FLoadLib = false;
      lists = std::move(FPendingLists);
    }
    // No Clear first: the pass builds its catalogue aside, and until it completes requests are
    // answered from the one before.
    try {
      LoadGameLib(lists);
    } catch (const ELoadPassError& e) {
      MainOutMessage("[Exception] TGameLib::Execute Error ");
      const std::string reason = e.FileName + " 加载失败: " + e.what();
      MainOutMessage(reason);
      CallPassFailed(reason);
    } catch (...) {
      MainOutMessage("[Exception] TGameLib::Execute Error ");
      CallPassFailed("TGameLib::Execute Error");
    }
    FPassRunning = false;
  }
}

void TGameLib::Clear() {
  TMaps old;
  {
    std::unique_lock lock(mapMutex_);
    std::swap(old, FMaps);
    FInPlace = false;
    FReplacedAt = FGeneration.fetch_add(1, std::memory_order_release) + 1;
    FLibraryChanges.clear();
  }
  // The entries are released here, outside the lock; a reader still using one keeps it alive.
}

std::shared_ptr<TWMImages> TGameLib::GetLib(const std::string& sFileName) const {
  std::shared_lock lock(mapMutex_);
  auto it = FMaps.m_LibList.find(sFileName);
  return it == FMaps.m_LibList.end() ? nullptr : it->second;
}

std::shared_ptr<const TNuvoBuffer> TGameLib::GetMap(const std::string& sFileName) const {
  std::shared_lock lock(mapMutex_);
  auto it = FMaps.m_MapList.find(sFileName);
  return it == FMaps.m_MapList.end() ? nullptr : it->second;
}

std::shared_ptr<const TNuvoBuffer> TGameLib::GetWav(const std::string& sFileName) const {
  std::shared_lock lock(mapMutex_);
  auto it = FMaps.m_WavList.find(sFileName);
  return it == FMaps.m_WavList.end() ? nullptr : it->second;
}

std::string CatalogueKeyText(const std::string& sFileName, const std::string& sSearchDir) {
  std::string s;
  size_t from = 0;
  if (!sSearchDir.empty()) {
    for (size_t p = sFileName.find(sSearchDir); p != std::string::npos;
         p = sFileName.find(sSearchDir, from)) {
      s.append(sFileName, from, p - from);
      from = p + sSearchDir.size();
    }
  }
  s.append(sFileName, from);
  // Only a file below the client directory gets the key a game client sends, whatever the host's
  // separator. Any other file (every file when there is no client directory) keeps its own
  // separators, so its key never begins with "\" as a request's key does: no request reaches it.
  const size_t n = sSearchDir.size();
  const bool below = n > 0 && sFileName.size() > n && sFileName.compare(0, n, sSearchDir) == 0 &&
                     (sFileName[n] == '/' || sFileName[n] == '\\');
  for (char& c : s) {
    c = LowerAsciiChar(c);
    if (below && c == '/') c = '\\';
  }
  return s;
}

void TGameLib::ShowProgress(const std::string& sName, size_t I, size_t ProgressMax) {
  ShowLoadLabel(AnsiFromUtf8(sName + " [" + std::to_string(I) + "/" + std::to_string(ProgressMax) + "]"));
}

void TGameLib::SetIndexRow(const std::string& sName, const std::string& hash) {
  std::lock_guard lock(indexMutex_);
  int found = -1;
  for (size_t i = 0; i < m_Indexes.size(); ++i) {
    const std::string& row = m_Indexes[i];
    if (SameTextAscii(row.substr(0, row.find('=')), sName)) {
      found = static_cast<int>(i);
      break;
    }
  }
  if (hash.empty()) {
    if (found >= 0) m_Indexes.erase(m_Indexes.begin() + found);
  } else if (found >= 0) {
    const std::string& row = m_Indexes[static_cast<size_t>(found)];
    m_Indexes[static_cast<size_t>(found)] = row.substr(0, row.find('=')) + "=" + hash;
  } else {
    m_Indexes.push_back(sName + "=" + hash);
  }
}

std::vector<std::string> TGameLib::IndexRows() const {
  std::lock_guard lock(indexMutex_);
  return m_Indexes;
}

// The catalogue a pass builds aside, with the index rows it will set and its report so far.
struct TGameLib::TPass {
  std::vector<TLoadEntry> Entries;
  TMaps Maps;
  std::vector<std::pair<std::string, std::string>> IndexRows;  // sName, hash, in order
  TPassReport Report;
  int Phase = -1;  // the last phase entered
};

// The lines between the end of one list and the start of the next.
void TGameLib::EnterPhase(int phase, const TLoadLists& Lists) {
  if (phase == kPassDone) {
    MainOutMessage("Wav 资源全部加载完成!");
    return;
  }
  const TResourceList list = static_cast<TResourceList>(phase);
  switch (list) {
    case TResourceList::Jpk:
      MainOutMessage(CountLine("准备加载 Jpk 资源", Lists.Size(list)));
      break;
    case TResourceList::Wzl:
      MainOutMessage(CountLine("准备加载 Wzl 资源", Lists.Size(list)));
      break;
    case TResourceList::Map:
      MainOutMessage("Data 资源全部加载完成!");
      ShowLoadLabel(AnsiFromUtf8("正在加载 map 资源！"));
      MainOutMessage(CountLine("准备加载 Map 资源", Lists.Size(list)));
      break;
    case TResourceList::Wav:
      MainOutMessage("Map 资源全部加载完成!");
      ShowLoadLabel(AnsiFromUtf8("正在加载 Wav 资源！"));
      MainOutMessage(CountLine("准备加载 Wav 资源", Lists.Size(list)));
      break;
  }
}

// Loader thread, in list order: the entry's line, its place in the new catalogue, its count.
void TGameLib::CommitEntry(TPass& pass, size_t i) {
  TLoadEntry& e = pass.Entries[i];
  pass.Report.Entries.push_back(e.Report);
  if (e.Report.State == TEntryState::Refused) MainOutMessage(e.Refusal);
  if (e.Report.State != TEntryState::Stored) return;
  const std::string key = AnsiFromUtf8(e.Report.Key);
  if (e.Lib) {
    pass.Maps.m_LibList[key] = std::move(e.Lib);
  } else {
    (e.Report.List == TResourceList::Map ? pass.Maps.m_MapList : pass.Maps.m_WavList)[key] = std::move(e.Buffer);
  }
  if (e.IndexHash) pass.IndexRows.emplace_back(e.Report.Key, *e.IndexHash);
}

// The completed pass replaces the catalogue served in one step. A pass that failed is put in place
// only where no catalogue is (the first pass, or one after an unload): what it stored before the
// failure is then served, as a pass storing entry by entry would have left it.
void TGameLib::PutInPlace(TPass& pass, bool complete) {
  if (!complete) {
    std::shared_lock lock(mapMutex_);
    if (FInPlace) return;  // a failed reload keeps the catalogue before it
  }
  for (const auto& [sName, hash] : pass.IndexRows) SetIndexRow(sName, hash);
  pass.Report.Complete = complete;
  auto report = std::make_shared<const TPassReport>(pass.Report);
  {
    std::unique_lock lock(mapMutex_);
    std::swap(FMaps, pass.Maps);
    FLastPass = std::move(report);
    FInPlace = complete;
    FReplacedAt = FGeneration.fetch_add(1, std::memory_order_release) + 1;
    FLibraryChanges.clear();
  }
  g_nDataMemory = pass.Report.StoredBytes();  // the figure is what is served
  pass.Maps = TMaps();  // the catalogue before, released outside the lock
  WatchLibraries();
}

void TGameLib::WatchLibraries() {
  std::lock_guard hold(watchMutex_);
  FWatch = std::make_unique<TFileWatch>();
  FWatchedKeys.clear();
  FToldKeys.clear();
  std::shared_lock lock(mapMutex_);
  for (const auto& [key, lib] : FMaps.m_LibList) {
    // A WZL header block is its index file as it is on disk, so that file is watched too.
    for (const std::string& path : {lib->FileName(), lib->IndexFileName()}) {
      if (!path.empty() && FWatch->Add(path)) FWatchedKeys[path] = key;
    }
  }
}

std::optional<std::vector<std::string>> TGameLib::LibrariesChangedSince(uint64_t since) const {
  std::shared_lock lock(mapMutex_);
  if (since < FReplacedAt) return std::nullopt;
  std::vector<std::string> keys;
  for (const auto& [generation, key] : FLibraryChanges) {
    if (generation > since) keys.push_back(key);
  }
  return keys;
}

void TGameLib::LibraryChanged(const std::string& key) {
  // A file that keeps changing must not grow the record without end: past this many changes the
  // catalogue counts as replaced, which makes everything made from it stale.
  constexpr size_t kMaxLibraryChanges = 1024;
  std::unique_lock lock(mapMutex_);
  const uint64_t generation = FGeneration.fetch_add(1, std::memory_order_release) + 1;
  if (FLibraryChanges.size() >= kMaxLibraryChanges) {
    FReplacedAt = generation;
    FLibraryChanges.clear();
  } else {
    FLibraryChanges.emplace_back(generation, key);
  }
}

// A library changed on disk is served from what was read when it was opened, and from whatever
// its files hold now: what was made from it before is dropped at every change, and the operator is
// told once that a reload is due.
void TGameLib::ReportChangedLibraries() {
  std::lock_guard hold(watchMutex_);
  if (!FWatch) return;
  for (const std::string& path : FWatch->Changed(std::chrono::milliseconds(0))) {
    const auto it = FWatchedKeys.find(path);
    if (it == FWatchedKeys.end()) continue;
    const std::string key = it->second;
    const std::shared_ptr<TWMImages> lib = GetLib(key);
    if (!lib || (lib->FileName() != path && lib->IndexFileName() != path)) continue;
    FWatch->Add(path);  // a file replaced by a rename is watched under its name again
    LibraryChanged(key);
    if (FToldKeys.insert(key).second) MainOutMessage(Utf8FromAnsi(key) + " 资源文件已被修改，请重新加载微端资源！");
  }
}

TLoadLists CurrentLoadLists() {
  TLoadLists lists;
  std::lock_guard lock(g_ConfigLock);
  lists.SearchDir = g_sSearchDir;
  for (const TNameValue& p : g_JpkList.Items()) lists.Jpk.emplace_back(p.Name, p.Value);
  lists.Wzl = g_WzlList;
  lists.Maps = g_MapList;
  lists.Wavs = g_WavList;
  return lists;
}

std::shared_ptr<const TPassReport> TGameLib::LastPass() const {
  std::shared_lock lock(mapMutex_);
  return FLastPass;
}

TPassReport TGameLib::LoadGameLib(const TLoadLists& Lists) {
  TPass pass;
  const auto add = [&pass](TResourceList list, size_t I, const std::string& name, const std::string* password) {
    if (name.empty()) return;  // an empty line is no resource
    TLoadEntry e;
    e.Report.List = list;
    e.Report.Index = I;
    e.Report.Path = name;
    e.FileName = &name;
    e.PassWord = password;
    pass.Entries.push_back(std::move(e));
  };
  for (size_t I = 0; I < Lists.Jpk.size(); ++I) add(TResourceList::Jpk, I, Lists.Jpk[I].first, &Lists.Jpk[I].second);
  for (size_t I = 0; I < Lists.Wzl.size(); ++I) add(TResourceList::Wzl, I, Lists.Wzl[I], nullptr);
  for (size_t I = 0; I < Lists.Maps.size(); ++I) add(TResourceList::Map, I, Lists.Maps[I], nullptr);
  for (size_t I = 0; I < Lists.Wavs.size(); ++I) add(TResourceList::Wav, I, Lists.Wavs[I], nullptr);

  const auto enterUpTo = [&](int phase) {
    while (pass.Phase < phase) EnterPhase(++pass.Phase, Lists);
  };
  std::vector<TScratch> scratch(OrderedWorkThreads(FLoadThreads));
  TOrderedWork work;
  work.Count = pass.Entries.size();
  work.Threads = FLoadThreads;
  work.Work = [&](size_t i, unsigned worker) { MakeEntry(pass.Entries[i], Lists.SearchDir, scratch[worker], FFiles); };
  work.Stopped = [this] { return FAbandon.load(); };
  bool complete = true;
  work.Commit = [&](size_t i) {
    if (FAbandon) return complete = false;
    const TPassEntry& e = pass.Entries[i].Report;
    if (e.State == TEntryState::Unreadable) {
      enterUpTo(PhaseOf(e.List));  // the lines of every phase reached come before the failure's
      pass.Report.Entries.push_back(e);
      PutInPlace(pass, false);
      ELoadPassError failed(e.Path, e.Error);
      failed.Report = std::move(pass.Report);
      throw failed;
    }
    enterUpTo(PhaseOf(e.List));
    CommitEntry(pass, i);
    if (e.State == TEntryState::Stored) ShowProgress(e.Key, e.Index, Lists.Size(e.List));
    return true;
  };
  enterUpTo(PhaseOf(TResourceList::Jpk));
  RunOrderedWork(work);
  if (!complete || FAbandon) return std::move(pass.Report);
  enterUpTo(kPassDone);
  std::vector<TScratch>().swap(scratch);
  PutInPlace(pass, true);

  ShowLoadLabel(AnsiFromUtf8("微端资源加载完毕！"));
  MainOutMessage("微端资源加载完毕！");
  CallBackLoad(pass.Report);
  return std::move(pass.Report);
}

std::string TGameLib::GetIndexes() const {
  std::string text;
  for (const std::string& row : IndexRows()) {
    size_t eq = row.find('=');
    text += row.substr(0, eq) + "|" + (eq == std::string::npos ? std::string() : row.substr(eq + 1));
    text += "\r\n";
  }
  return ZlibCompress(AnsiFromUtf8(text), 4);
}

std::string TGameLib::CopyBuffer(const std::shared_ptr<const TNuvoBuffer>& entry) {
  if (!entry) return {};
  return entry->Buffer.substr(0, static_cast<size_t>(entry->nSize));
}

std::string TGameLib::GetMapBuff(const std::string& sFileName) const { return CopyBuffer(GetMap(sFileName)); }

std::string TGameLib::GetWavBuff(const std::string& sFileName) const { return CopyBuffer(GetWav(sFileName)); }

std::string TGameLib::GetHeaderBuff(const std::string& sFileName) const {
  std::shared_ptr<TWMImages> lib = GetLib(sFileName);
  if (!lib) return {};
  std::optional<std::string> block = lib->GetWClientHeader();
  return block ? std::move(*block) : std::string();
}

namespace {

// An image payload: the record, then the image bytes it counts.
std::string ImagePayload(const TWImage& record, const std::string& bytes) {
  std::string out(reinterpret_cast<const char*>(&record), sizeof(TWImage));
  if (!bytes.empty()) out.append(bytes.data(), std::min<size_t>(bytes.size(), static_cast<size_t>(std::max(record.nSize, 0))));
  return out;
}

}  // namespace

std::string TGameLib::GetImageBuff(const std::string& sFileName, int32_t nIndex) const {
  std::shared_ptr<TWMImages> lib = GetLib(sFileName);
  if (!lib) return {};
  if (nIndex < 0 || nIndex >= lib->ImageCount()) return {};
  std::string bytes;
  std::optional<TWImage> record = lib->GetWClientImage(bytes, nIndex);
  return record ? ImagePayload(*record, bytes) : std::string();
}

std::optional<std::string> TGameLib::GetImageBuffNoWait(const std::string& sFileName, int32_t nIndex) const {
  std::shared_ptr<TWMImages> lib = GetLib(sFileName);
  if (!lib) return std::string();
  if (nIndex < 0 || nIndex >= lib->ImageCount()) return std::string();
  std::string bytes;
  bool wouldWait = false;
  std::optional<TWImage> record = lib->GetWClientImageNoWait(bytes, nIndex, wouldWait);
  if (wouldWait) return std::nullopt;
  return record ? ImagePayload(*record, bytes) : std::string();
}

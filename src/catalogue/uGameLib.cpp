#include "catalogue/uGameLib.h"

#include <cstring>
#include <stdexcept>

#include "formats/Jpk.h"
#include "formats/WIL.h"
#include "formats/ZStream.h"
#include "formats/Wzl.h"
#include "platform/AsciiText.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/ReadFile.h"
#include "platform/HUtil32.h"
#include "settings/TarnShare.h"

std::atomic<uint64_t> g_nDataMemory{0};

namespace {

std::string CountLine(const char* text, size_t n) { return text + std::string(" [") + std::to_string(n) + "]"; }

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

void TGameLib::SetBackLoad(TBackLoad f) {
  std::lock_guard lock(callbackMutex_);
  FTBackLoad = std::move(f);
}

void TGameLib::SetShowLabel(TBackShow f) {
  std::lock_guard lock(callbackMutex_);
  FTBackShow = std::move(f);
}

void TGameLib::DetachCallbacks() {
  std::lock_guard lock(callbackMutex_);
  FTBackLoad = nullptr;
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

void TGameLib::CallBackLoad() {
  std::lock_guard lock(callbackMutex_);
  if (FTBackLoad) FTBackLoad();
}

void TGameLib::Execute() {
  for (;;) {
    TLoadLists lists;
    {
      std::unique_lock lock(wakeMutex_);
      // Waiting on the flag instead of polling every millisecond keeps an idle loader at no cost.
      wake_.wait(lock, [this] { return Terminated.load() || FLoadLib.load(); });
      if (Terminated) return;
      FLoadLib = false;
      lists = std::move(FPendingLists);
    }
    try {
      Clear();
      LoadGameLib(lists);
    } catch (...) {
      MainOutMessage("[Exception] TGameLib::Execute Error ");
    }
  }
}

void TGameLib::Clear() {
  TLibMap libs;
  TBufferMap maps, wavs;
  {
    std::unique_lock lock(mapMutex_);
    libs.swap(m_LibList);
    maps.swap(m_MapList);
    wavs.swap(m_WavList);
    FGeneration.fetch_add(1, std::memory_order_release);
  }
  // The entries are released here, outside the lock; a reader still using one keeps it alive.
}

std::shared_ptr<TWMImages> TGameLib::GetLib(const std::string& sFileName) const {
  std::shared_lock lock(mapMutex_);
  auto it = m_LibList.find(sFileName);
  return it == m_LibList.end() ? nullptr : it->second;
}

std::shared_ptr<const TNuvoBuffer> TGameLib::GetMap(const std::string& sFileName) const {
  std::shared_lock lock(mapMutex_);
  auto it = m_MapList.find(sFileName);
  return it == m_MapList.end() ? nullptr : it->second;
}

std::shared_ptr<const TNuvoBuffer> TGameLib::GetWav(const std::string& sFileName) const {
  std::shared_lock lock(mapMutex_);
  auto it = m_WavList.find(sFileName);
  return it == m_WavList.end() ? nullptr : it->second;
}

void TGameLib::StoreLib(const std::string& key, std::shared_ptr<TWMImages> lib) {
  std::shared_ptr<TWMImages> old;
  std::unique_lock lock(mapMutex_);
  auto& slot = m_LibList[key];
  old.swap(slot);
  slot = std::move(lib);
  FGeneration.fetch_add(1, std::memory_order_release);
  lock.unlock();
}

void TGameLib::StoreBuffer(TBufferMap& map, const std::string& key,
                           std::shared_ptr<const TNuvoBuffer> buf) {
  std::shared_ptr<const TNuvoBuffer> old;
  std::unique_lock lock(mapMutex_);
  auto& slot = map[key];
  old.swap(slot);
  slot = std::move(buf);
  FGeneration.fetch_add(1, std::memory_order_release);
  lock.unlock();
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
  for (char& c : s) {
    c = LowerAsciiChar(c);
    if (c == '/') c = '\\';  // keys are what a game client sends, whatever the host's separator
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

void TGameLib::LoadJpkPhase(const std::string& searchDir,
                            const std::vector<std::pair<std::string, std::string>>& list) {
  MainOutMessage(CountLine("准备加载 Jpk 资源", list.size()));
  for (size_t I = 0; I < list.size(); ++I) {
    const auto& [sFileName, sPassWord] = list[I];
    if (sFileName.empty() || !FFiles.Exists(sFileName)) continue;
    const std::string sName = CatalogueKeyText(sFileName, searchDir);
    if (sPassWord.empty()) {
      MainOutMessage(sName + " Jpk密码不能为空！");
      continue;
    }
    std::shared_ptr<TWMImages> lib = InitializeGameImage(sFileName, sPassWord, true, FFiles);
    if (!lib) {
      MainOutMessage(sName + " Jpk文件不存在！");
      continue;
    }
    const auto* jpk = dynamic_cast<const TJpkLib*>(lib.get());
    if (jpk && !jpk->PasswordOk()) {
      MainOutMessage(sName + " Jpk密码错误！");
      continue;
    }
    const std::string hash = lib->IndexesHash();
    const uint64_t size = lib->FileSize();
    StoreLib(AnsiFromUtf8(sName), std::move(lib));
    // The table lists JPK libraries only: a WZL library named in the JPK list is served but
    // published nowhere.
    if (jpk) SetIndexRow(sName, hash);
    g_nDataMemory += size;
    ShowProgress(sName, I, list.size());
  }
}

void TGameLib::LoadWzlPhase(const std::string& searchDir, const std::vector<std::string>& list) {
  MainOutMessage(CountLine("准备加载 Wzl 资源", list.size()));
  for (size_t I = 0; I < list.size(); ++I) {
    const std::string& sFileName = list[I];
    if (sFileName.empty() || !FFiles.Exists(sFileName)) continue;
    const std::string sName = CatalogueKeyText(sFileName, searchDir);
    std::shared_ptr<TWMImages> lib = InitializeGameImage(sFileName, "", true, FFiles);
    if (!lib) {
      MainOutMessage(sName + " Wzl资源文件异常！");
      continue;
    }
    const uint64_t size = lib->FileSize();
    StoreLib(AnsiFromUtf8(sName), std::move(lib));
    g_nDataMemory += size;
    ShowProgress(sName, I, list.size());
  }
}

void TGameLib::LoadBufferPhase(const std::string& searchDir, const std::vector<std::string>& list,
                               TBufferMap& map, std::string& readBuffer, std::string& zipBuffer) {
  for (size_t I = 0; I < list.size(); ++I) {
    const std::string& sFileName = list[I];
    if (sFileName.empty() || !FFiles.Exists(sFileName)) continue;
    const std::string sName = CatalogueKeyText(sFileName, searchDir);
    ReadWholeFile(FFiles, sFileName, readBuffer);
    auto entry = std::make_shared<TNuvoBuffer>();
    entry->sFileName = sFileName;
    entry->Buffer = ZlibCompress(readBuffer, 2, &zipBuffer);
    entry->nSize = static_cast<int32_t>(entry->Buffer.size());
    entry->Deflated = RawDeflate(entry->Buffer, 1);
    const uint64_t size = entry->Buffer.size();
    StoreBuffer(map, AnsiFromUtf8(sName), std::move(entry));
    g_nDataMemory += size;
    ShowProgress(sName, I, list.size());
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

void TGameLib::LoadGameLib(const TLoadLists& Lists) {
  const std::string& searchDir = Lists.SearchDir;
  const auto& maps = Lists.Maps;
  const auto& wavs = Lists.Wavs;
  g_nDataMemory = 0;
  LoadJpkPhase(searchDir, Lists.Jpk);
  LoadWzlPhase(searchDir, Lists.Wzl);
  MainOutMessage("Data 资源全部加载完成!");
  ShowLoadLabel(AnsiFromUtf8("正在加载 map 资源！"));

  MainOutMessage(CountLine("准备加载 Map 资源", maps.size()));
  std::string readBuffer, zipBuffer;
  LoadBufferPhase(searchDir, maps, m_MapList, readBuffer, zipBuffer);
  MainOutMessage("Map 资源全部加载完成!");
  ShowLoadLabel(AnsiFromUtf8("正在加载 Wav 资源！"));

  MainOutMessage(CountLine("准备加载 Wav 资源", wavs.size()));
  LoadBufferPhase(searchDir, wavs, m_WavList, readBuffer, zipBuffer);
  std::string().swap(readBuffer);
  std::string().swap(zipBuffer);
  MainOutMessage("Wav 资源全部加载完成!");

  ShowLoadLabel(AnsiFromUtf8("微端资源加载完毕！"));
  MainOutMessage("微端资源加载完毕！");
  CallBackLoad();
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

std::string TGameLib::GetImageBuff(const std::string& sFileName, int32_t nIndex) const {
  std::shared_ptr<TWMImages> lib = GetLib(sFileName);
  if (!lib) return {};
  if (nIndex < 0 || nIndex >= lib->ImageCount()) return {};
  std::string bytes;
  std::optional<TWImage> record = lib->GetWClientImage(bytes, nIndex);
  if (!record) return {};
  std::string out(reinterpret_cast<const char*>(&*record), sizeof(TWImage));
  if (!bytes.empty()) out.append(bytes.data(), std::min<size_t>(bytes.size(), static_cast<size_t>(std::max(record->nSize, 0))));
  return out;
}

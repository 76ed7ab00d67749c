#include "catalogue/uGameLib.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>
#include <tuple>

#include "formats/Jpk.h"
#include "support/LibraryFixture.h"
#include "support/LibraryWriter.h"
#include "formats/WIL.h"
#include "formats/ZStream.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/ReadFile.h"
#include "settings/TarnShare.h"
#include "support/TempDir.h"
#include "support/SharedStateTest.h"

namespace {

using namespace std::chrono_literals;

// Log lines without their "[date time] " prefix.
std::vector<std::string> DrainLog() {
  std::vector<std::string> out;
  for (std::string& line : g_ErrorList.Drain()) {
    size_t p = line.find("] ");
    out.push_back(p == std::string::npos ? line : line.substr(p + 2));
  }
  return out;
}

bool Contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

// A client installation below <tmp>/client with every kind of resource.
class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSharedState();
    client = tmp.Path() + "/client";
    ForceDirectories(client + "/Data");
    ForceDirectories(client + "/Map/Sub");
    ForceDirectories(client + "/Wav");
    g_sSearchDir = client;

    wzlDesc.Images = {UnpackedImage(3, 2, 5, 1), ImageAt(0), PackedImage(40, 30, 5000, 2)};
    WriteWzlLibrary(client + "/Data/Hum.wzl", WzlLibraryBytes(wzlDesc));
    jpkDesc.Images = {PackedImage(10, 10, 300, 3), ImageAt(5), PackedImage(8, 8, 2000, 4)};
    tmp.WriteFile("client/Data/Items.jpk", JpkLibraryBytes(jpkDesc, TJpkVersion::V2, "pw").Bytes);
    tmp.WriteFile("client/Data/Old.jpk", JpkLibraryBytes(jpkDesc, TJpkVersion::V1, "old").Bytes);
    mapBytes = PatternBytes(70000, 9);
    tmp.WriteFile("client/Map/Sub/0.map", mapBytes);
    tmp.WriteFile("client/Map/Empty.map", "");
    wavBytes = PatternBytes(5000, 10);
    tmp.WriteFile("client/Wav/Hit.wav", wavBytes);
  }
  void TearDown() override { ResetSharedState(); }

  void UseFullLists() {
    g_JpkList.SetValue(client + "/Data/Items.jpk", "pw");
    g_JpkList.SetValue(client + "/Data/Old.jpk", "old");
    g_WzlList = {client + "/Data/Hum.wzl"};
    g_MapList = {client + "/Map/Sub/0.map", client + "/Map/Empty.map"};
    g_WavList = {client + "/Wav/Hit.wav"};
  }

  // Runs one pass on the calling thread, recording progress texts and the load-finished call. More
  // pool threads than entries, so results arrive out of order on any machine.
  TPassReport RunPass(TGameLib& lib) {
    lib.SetLoadThreads(4);
    lib.SetShowLabel([this](const std::string& s) { progress.push_back(Utf8FromAnsi(s)); });
    lib.SetBackLoad([this](const TPassReport&) { ++loaded; });
    lib.Clear();
    return lib.LoadGameLib(CurrentLoadLists());
  }

  TempDir tmp;
  std::string client;
  TLibDesc wzlDesc, jpkDesc;
  std::string mapBytes, wavBytes;
  std::vector<std::string> progress;
  int loaded = 0;
};

TEST_F(CatalogueTest, EmptyListsRunEveryPhaseAndFinish) {
  TGameLib lib(true);
  g_nDataMemory = 77;
  RunPass(lib);
  EXPECT_EQ(DrainLog(), (std::vector<std::string>{
                            "准备加载 Jpk 资源 [0]", "准备加载 Wzl 资源 [0]", "Data 资源全部加载完成!",
                            "准备加载 Map 资源 [0]", "Map 资源全部加载完成!", "准备加载 Wav 资源 [0]",
                            "Wav 资源全部加载完成!", "微端资源加载完毕！"}));
  EXPECT_EQ(progress, (std::vector<std::string>{"正在加载 map 资源！", "正在加载 Wav 资源！", "微端资源加载完毕！"}));
  EXPECT_EQ(loaded, 1);
  EXPECT_EQ(g_nDataMemory, 0u);
}

TEST_F(CatalogueTest, FullPassStoresEveryKindUnderItsKey) {
  UseFullLists();
  TGameLib lib(true);
  RunPass(lib);
  EXPECT_NE(lib.GetLib("\\data\\items.jpk"), nullptr);
  EXPECT_NE(lib.GetLib("\\data\\old.jpk"), nullptr);
  EXPECT_NE(lib.GetLib("\\data\\hum.wzl"), nullptr);
  EXPECT_NE(lib.GetMap("\\map\\sub\\0.map"), nullptr);
  EXPECT_NE(lib.GetWav("\\wav\\hit.wav"), nullptr);
  for (const char* miss : {"\\Data\\Hum.wzl", "data\\hum.wzl", "/data/hum.wzl", ""}) {
    EXPECT_EQ(lib.GetLib(miss), nullptr) << miss;
  }
  // The two maps are separate.
  EXPECT_EQ(lib.GetWav("\\map\\sub\\0.map"), nullptr);
  EXPECT_EQ(lib.GetMapBuff("\\wav\\hit.wav"), "");

  EXPECT_EQ(progress, (std::vector<std::string>{
                          "\\data\\items.jpk [0/2]", "\\data\\old.jpk [1/2]", "\\data\\hum.wzl [0/1]",
                          "正在加载 map 资源！", "\\map\\sub\\0.map [0/2]", "\\map\\empty.map [1/2]",
                          "正在加载 Wav 资源！", "\\wav\\hit.wav [0/1]", "微端资源加载完毕！"}));
  EXPECT_EQ(loaded, 1);

  uint64_t expected = FileSizeOf(client + "/Data/Items.jpk") + FileSizeOf(client + "/Data/Old.jpk") +
                      FileSizeOf(client + "/Data/Hum.wzl");
  for (const char* key : {"\\map\\sub\\0.map", "\\map\\empty.map"}) expected += lib.GetMap(key)->nSize;
  expected += lib.GetWav("\\wav\\hit.wav")->nSize;
  EXPECT_EQ(g_nDataMemory, expected);

  // Only JPK libraries get index rows.
  auto rows = lib.IndexRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].rfind("\\data\\items.jpk=", 0), 0u);
  EXPECT_EQ(rows[1].rfind("\\data\\old.jpk=", 0), 0u);
}

TEST_F(CatalogueTest, APassReadsThroughItsFileSource) {
  UseFullLists();
  TMemoryFiles memory;
  for (const auto& e : std::filesystem::recursive_directory_iterator(client)) {
    if (e.is_regular_file()) memory.Put(e.path().string(), ReadFileBytes(e.path().string()));
  }
  std::filesystem::remove_all(client);
  TGameLib lib(true, memory);
  RunPass(lib);
  EXPECT_EQ(lib.IndexRows().size(), 2u);
  EXPECT_EQ(ZlibInflate(lib.GetMapBuff("\\map\\sub\\0.map")), mapBytes);
  EXPECT_EQ(ZlibInflate(lib.GetWavBuff("\\wav\\hit.wav")), wavBytes);
  // The header block takes the index file from the same source.
  const std::string wzx = WzlLibraryBytes(wzlDesc).Wzx;
  EXPECT_EQ(lib.GetHeaderBuff("\\data\\hum.wzl").substr(72), wzx);
  memory.Put(client + "/Data/Hum.wzx", wzx + "tail");
  EXPECT_EQ(lib.GetHeaderBuff("\\data\\hum.wzl").substr(72), wzx + "tail");
  EXPECT_EQ(lib.GetImageBuff("\\data\\items.jpk", 0).size(), 64u + 300u);
}

TEST_F(CatalogueTest, RefusedEntriesAreLoggedAndThePassGoesOn) {
  tmp.WriteFile("client/Data/notes.txt", "not a library");
  g_JpkList.SetValue(client + "/Data/Missing.jpk", "pw");       // silently skipped
  g_JpkList.SetValue(client + "/Data/Items.jpk", "");           // empty password
  g_JpkList.SetValue(client + "/Data/Old.jpk", "wrong");        // wrong password
  g_JpkList.SetValue(client + "/Data/notes.txt", "pw");         // no library kind
  g_WzlList = {"", client + "/Data/notes.txt", client + "/Data/Gone.wzl"};
  g_MapList = {client + "/Map/Sub/0.map"};
  TGameLib lib(true);
  const TPassReport report = RunPass(lib);
  // Lines in list order, whichever pool thread finished first.
  EXPECT_EQ(DrainLog(), (std::vector<std::string>{
                            "准备加载 Jpk 资源 [4]", "\\data\\items.jpk Jpk密码不能为空！",
                            "\\data\\old.jpk Jpk密码错误！", "\\data\\notes.txt Jpk文件不存在！",
                            "准备加载 Wzl 资源 [3]", "\\data\\notes.txt Wzl资源文件异常！",
                            "Data 资源全部加载完成!", "准备加载 Map 资源 [1]", "Map 资源全部加载完成!",
                            "准备加载 Wav 资源 [0]", "Wav 资源全部加载完成!", "微端资源加载完毕！"}));
  EXPECT_EQ(lib.GetLib("\\data\\items.jpk"), nullptr);
  EXPECT_EQ(lib.GetLib("\\data\\old.jpk"), nullptr);
  EXPECT_TRUE(lib.IndexRows().empty());
  EXPECT_NE(lib.GetMap("\\map\\sub\\0.map"), nullptr);
  EXPECT_EQ(loaded, 1);

  // The report says the same per entry, empty lines left out, and keeps each entry's place.
  using S = TEntryState;
  using R = TRefusal;
  using L = TResourceList;
  const std::vector<std::tuple<L, size_t, std::string, S, R>> expected = {
      {L::Jpk, 0, "/Data/Missing.jpk", S::Missing, R::None},
      {L::Jpk, 1, "/Data/Items.jpk", S::Refused, R::NoPassword},
      {L::Jpk, 2, "/Data/Old.jpk", S::Refused, R::WrongPassword},
      {L::Jpk, 3, "/Data/notes.txt", S::Refused, R::NoLibrary},
      {L::Wzl, 1, "/Data/notes.txt", S::Refused, R::NoLibrary},
      {L::Wzl, 2, "/Data/Gone.wzl", S::Missing, R::None},
      {L::Map, 0, "/Map/Sub/0.map", S::Stored, R::None}};
  ASSERT_EQ(report.Entries.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const TPassEntry& e = report.Entries[i];
    const auto& [list, index, path, state, refusal] = expected[i];
    EXPECT_EQ(std::tie(e.List, e.Index, e.Path, e.State, e.Refusal),
              std::make_tuple(list, index, client + path, state, refusal)) << i;
    EXPECT_EQ(e.Key.empty(), state == S::Missing) << i;
    EXPECT_EQ(e.Bytes, state == S::Stored ? lib.GetMap("\\map\\sub\\0.map")->Buffer.size() : 0u) << i;
  }
  EXPECT_TRUE(report.Complete);
  EXPECT_EQ(report.Count(S::Refused), 4u);
  EXPECT_EQ(report.StoredBytes(), g_nDataMemory);
  EXPECT_EQ(lib.LastPass()->Entries.size(), expected.size());
}

TEST_F(CatalogueTest, WzlLibraryInTheJpkListIsServedWithoutAnIndexRow) {
  g_JpkList.SetValue(client + "/Data/Hum.wzl", "pw");
  TGameLib lib(true);
  RunPass(lib);
  auto wzl = lib.GetLib("\\data\\hum.wzl");
  ASSERT_NE(wzl, nullptr);
  EXPECT_EQ(wzl->ImageMode(), TImageMode::Tarn2Wzl);
  EXPECT_TRUE(lib.IndexRows().empty());
  EXPECT_FALSE(lib.GetImageBuff("\\data\\hum.wzl", 0).empty());
}

TEST_F(CatalogueTest, DuplicateKeysReplaceAndOutsidePathsKeepTheirWholePath) {
  ForceDirectories(client + "/MAP/Sub");
  tmp.WriteFile("client/MAP/Sub/0.map", "second");  // another file, the same key
  ForceDirectories(tmp.Path() + "/Other");
  tmp.WriteFile("Other/X.map", "outside");
  g_MapList = {client + "/Map/Sub/0.map", client + "/MAP/Sub/0.map", tmp.Path() + "/Other/X.map"};
  TGameLib lib(true);
  const TPassReport report = RunPass(lib);
  EXPECT_EQ(ZlibInflate(lib.GetMapBuff("\\map\\sub\\0.map")), std::optional<std::string>("second"));
  // Stored under its whole path, which no request can name: a request's key begins with "\".
  std::string outsideKey = tmp.Path() + "/other/x.map";
  for (char& c : outsideKey) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  EXPECT_NE(lib.GetMap(outsideKey), nullptr);
  std::replace(outsideKey.begin(), outsideKey.end(), '/', '\\');
  EXPECT_EQ(lib.GetMap(outsideKey), nullptr) << "asked for under its absolute path";
  uint64_t counted = 0;
  for (const auto& s : {mapBytes, std::string("second"), std::string("outside")}) counted += ZlibCompress(s, 2).size();
  EXPECT_EQ(g_nDataMemory, counted);  // both files under one key count
  EXPECT_EQ(report.StoredBytes(), counted);
  EXPECT_EQ(report.Count(TEntryState::Stored), 3u);
}

TEST_F(CatalogueTest, SearchDirIsRemovedCaseSensitivelyAndNotAtAllWhenEmpty) {
  g_MapList = {client + "/Map/Sub/0.map"};
  g_sSearchDir = "";
  TGameLib lib(true);
  RunPass(lib);
  std::string whole = client + "/map/sub/0.map";
  for (char& c : whole) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  EXPECT_NE(lib.GetMap(whole), nullptr);
  EXPECT_EQ(lib.GetMap("\\map\\sub\\0.map"), nullptr);
  std::replace(whole.begin(), whole.end(), '/', '\\');
  EXPECT_EQ(lib.GetMap(whole), nullptr) << "no request reaches a file when there is no client directory";
}

TEST_F(CatalogueTest, PayloadsOfEveryRequestForm) {
  UseFullLists();
  TGameLib lib(true);
  RunPass(lib);
  auto hum = lib.GetLib("\\data\\hum.wzl");
  ASSERT_NE(hum, nullptr);
  EXPECT_EQ(lib.GetHeaderBuff("\\data\\hum.wzl"), *hum->GetWClientHeader());
  EXPECT_EQ(lib.GetHeaderBuff("\\data\\none.wzl"), "");
  // Images: record then bytes; CRC-32 in bytes 44..47 covers the bytes.
  std::string body = lib.GetImageBuff("\\data\\hum.wzl", 0);
  ASSERT_EQ(body.size(), 64u + 16u);
  TWImage rec;
  std::memcpy(&rec, body.data(), 64);
  EXPECT_EQ(rec.nSize, 16);
  EXPECT_EQ(body.substr(64), wzlDesc.Images[0].Data);
  body = lib.GetImageBuff("\\data\\hum.wzl", 1);  // absent entry: the record alone
  EXPECT_EQ(body.size(), 64u);
  for (int32_t bad : {3, -1, INT32_MIN}) EXPECT_EQ(lib.GetImageBuff("\\data\\hum.wzl", bad), "") << bad;
  EXPECT_EQ(lib.GetImageBuff("\\data\\none.wzl", 0), "");
  // JPK image and header.
  auto items = lib.GetLib("\\data\\items.jpk");
  std::string jpkBody = lib.GetImageBuff("\\data\\items.jpk", 2);
  EXPECT_EQ(jpkBody.size(), 64u + 2000u);
  EXPECT_EQ(lib.GetHeaderBuff("\\data\\items.jpk"), *items->GetWClientHeader());
  // Maps and wavs inflate to the files; an empty file still gives a stream.
  EXPECT_EQ(ZlibInflate(lib.GetMapBuff("\\map\\sub\\0.map")), mapBytes);
  const std::string empty = lib.GetMapBuff("\\map\\empty.map");
  EXPECT_FALSE(empty.empty());
  EXPECT_EQ(ZlibInflate(empty), std::optional<std::string>(""));
  EXPECT_EQ(ZlibInflate(lib.GetWavBuff("\\wav\\hit.wav")), wavBytes);
}

// A library cut short under the running server: the entries it lost give empty bodies and a line in
// the damaged-entry file, never a record of bytes the file no longer holds.
TEST_F(CatalogueTest, ATruncatedLibraryGivesEmptyBodiesForTheEntriesItLost) {
  UseFullLists();
  TGameLib lib(true);
  RunPass(lib);
  const struct {
    const char* file;
    const char* key;
    int32_t cut;  // the new length
  } cases[] = {
      {"client/Data/Hum.wzl", "\\data\\hum.wzl", WzlLibraryBytes(wzlDesc).Positions[2] + 100},  // in the bytes
      {"client/Data/Items.jpk", "\\data\\items.jpk",
       JpkLibraryBytes(jpkDesc, TJpkVersion::V2, "pw").Positions[2] + 10},  // in the entry header
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    const std::string first = lib.GetImageBuff(c.key, 0);
    ASSERT_FALSE(lib.GetImageBuff(c.key, 2).empty());
    std::filesystem::resize_file(tmp.PathOf(c.file), static_cast<uintmax_t>(c.cut));
    EXPECT_EQ(lib.GetImageBuff(c.key, 2), "");
    EXPECT_EQ(lib.GetImageBuff(c.key, 0), first) << "entries the file still holds are served";
    const std::string log = tmp.ReadFile(kDebugFileName);
    EXPECT_NE(log.find(tmp.PathOf(c.file) + " TWMImages.GetWClientImage 2 "), std::string::npos) << log;
  }
}

TEST_F(CatalogueTest, IndexRowsOutliveClearAndLaterPasses) {
  UseFullLists();
  TGameLib lib(true);
  RunPass(lib);
  auto first = lib.IndexRows();
  lib.Clear();
  EXPECT_EQ(lib.GetLib("\\data\\items.jpk"), nullptr);
  EXPECT_EQ(lib.IndexRows(), first);

  // A later pass without Old.jpk, with Items.jpk rebuilt empty (no hash) and a new library.
  g_JpkList.Clear();
  TLibDesc none;
  tmp.WriteFile("client/Data/Items.jpk", JpkLibraryBytes(none, TJpkVersion::V2, "pw").Bytes);
  tmp.WriteFile("client/Data/New.jpk", JpkLibraryBytes(jpkDesc, TJpkVersion::V1, "n").Bytes);
  g_JpkList.SetValue(client + "/Data/New.jpk", "n");
  g_JpkList.SetValue(client + "/Data/Items.jpk", "pw");
  RunPass(lib);
  auto rows = lib.IndexRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], first[1]);  // old.jpk keeps its row and hash
  EXPECT_EQ(rows[1].rfind("\\data\\new.jpk=", 0), 0u);

  const auto table = ZlibInflate(lib.GetIndexes());
  ASSERT_TRUE(table);
  const std::string oldHash = first[1].substr(first[1].find('=') + 1);
  EXPECT_EQ(table->substr(0, table->find("\r\n") + 2), "\\data\\old.jpk|" + oldHash + "\r\n");
}

TEST_F(CatalogueTest, IndexTableOfNoRowsAndTheEqualsSignQuirk) {
  TGameLib lib(true);
  EXPECT_EQ(ZlibInflate(lib.GetIndexes()), std::optional<std::string>(""));
  tmp.WriteFile("client/Data/a=b.jpk", JpkLibraryBytes(jpkDesc, TJpkVersion::V1, "k").Bytes);
  g_JpkList.SetValue(client + "/Data/a=b.jpk", "k");
  RunPass(lib);
  RunPass(lib);
  // The row's name ends at the first "=", so the next storing appends rather than updates.
  auto rows = lib.IndexRows();
  ASSERT_EQ(rows.size(), 2u);
  const std::string hash = lib.GetLib("\\data\\a=b.jpk")->IndexesHash();
  EXPECT_EQ(*ZlibInflate(lib.GetIndexes()), "\\data\\a|b.jpk=" + hash + "\r\n\\data\\a|b.jpk=" + hash + "\r\n");
}

// A pass on the loader thread that can be held at its first progress text.
class LoaderThreadTest : public CatalogueTest {
 protected:
  void Attach(TGameLib& lib) {
    lib.SetShowLabel([this](const std::string&) {
      std::unique_lock lock(m);
      if (holdFirst && !held) {
        held = true;
        cv.notify_all();
        cv.wait(lock, [this] { return released; });
      }
    });
    lib.SetBackLoad([this](const TPassReport&) {
      std::lock_guard lock(m);
      ++passes;
      cv.notify_all();
    });
  }
  bool WaitFor(const std::function<bool()>& pred) {
    std::unique_lock lock(m);
    return cv.wait_for(lock, 10s, pred);
  }
  // Starts the loader on a pass of the current lists and waits until it is held.
  bool StartHeldPass(TGameLib& lib) {
    holdFirst = true;
    Attach(lib);
    lib.Resume();
    lib.SetLoadLib(CurrentLoadLists());
    return WaitFor([this] { return held; });
  }
  void Release() {
    {
      std::lock_guard lock(m);
      released = true;
    }
    cv.notify_all();
  }

  std::mutex m;
  std::condition_variable cv;
  bool holdFirst = false, held = false, released = false;
  int passes = 0;
};

TEST_F(LoaderThreadTest, TwoRequestsDuringAPassGiveExactlyOneMorePass) {
  UseFullLists();
  TGameLib lib(true);
  ASSERT_TRUE(StartHeldPass(lib));
  lib.SetLoadLib(CurrentLoadLists());
  lib.SetLoadLib(CurrentLoadLists());
  Release();
  ASSERT_TRUE(WaitFor([this] { return passes == 2; }));
  std::this_thread::sleep_for(100ms);
  std::lock_guard lock(m);
  EXPECT_EQ(passes, 2);
}

// A failing pass names the file and keeps every entry served before it, later phases included.
TEST_F(LoaderThreadTest, UnreadableMapKeepsTheCatalogueBeforeAndNamesTheFile) {
  UseFullLists();
  TGameLib lib(true);
  RunPass(lib);
  DrainLog();
  const uint64_t served = g_nDataMemory;
  const std::string wav = lib.GetWavBuff("\\wav\\hit.wav");
  tmp.WriteFile("client/Map/Sub/0.map", "changed");
  // Exists as a regular file, but every read fails.
  g_MapList = {client + "/Map/Sub/0.map", "/proc/self/mem", client + "/Map/Empty.map"};
  Attach(lib);
  lib.Resume();
  lib.SetLoadLib(CurrentLoadLists());
  std::vector<std::string> log;
  for (int i = 0; i < 1000 && !Contains(log, "[Exception] TGameLib::Execute Error "); ++i) {
    for (auto& l : DrainLog()) log.push_back(l);
    std::this_thread::sleep_for(5ms);
  }
  for (auto& l : DrainLog()) log.push_back(l);
  ASSERT_TRUE(Contains(log, "[Exception] TGameLib::Execute Error "));
  const auto failure = std::find(log.begin(), log.end(), "[Exception] TGameLib::Execute Error ");
  ASSERT_NE(failure + 1, log.end());
  EXPECT_EQ(failure[1].rfind("/proc/self/mem 加载失败: ", 0), 0u) << failure[1];
  EXPECT_FALSE(Contains(log, "Map 资源全部加载完成!"));
  EXPECT_EQ(ZlibInflate(lib.GetMapBuff("\\map\\sub\\0.map")), mapBytes);
  EXPECT_NE(lib.GetMap("\\map\\empty.map"), nullptr);
  EXPECT_EQ(lib.GetWavBuff("\\wav\\hit.wav"), wav);
  EXPECT_NE(lib.GetLib("\\data\\hum.wzl"), nullptr);
  EXPECT_EQ(g_nDataMemory, served) << "the figure of the catalogue served, not of the failed pass";
  std::lock_guard lock(m);
  EXPECT_EQ(passes, 0);
}

// The failure carries the report up to the file that failed, that file last with its error; the
// report of the catalogue served stays the last one put in place.
TEST_F(CatalogueTest, AFailedPassReportsUpToTheUnreadableFile) {
  g_MapList = {client + "/Map/Sub/0.map"};
  TGameLib lib(true);
  RunPass(lib);
  g_MapList = {client + "/Map/Sub/0.map", "/proc/self/mem", client + "/Map/Empty.map"};
  try {
    lib.LoadGameLib(CurrentLoadLists());  // a reload: the catalogue before stays
    FAIL() << "the pass read /proc/self/mem";
  } catch (const ELoadPassError& e) {
    ASSERT_EQ(e.Report.Entries.size(), 2u);
    EXPECT_EQ(e.Report.Entries[0].State, TEntryState::Stored);
    const TPassEntry& failed = e.Report.Entries[1];
    EXPECT_EQ(std::tie(failed.List, failed.Index, failed.Path, failed.State),
              std::make_tuple(TResourceList::Map, size_t{1}, std::string("/proc/self/mem"), TEntryState::Unreadable));
    EXPECT_EQ(failed.Error, e.what());
    EXPECT_FALSE(failed.Error.empty());
    EXPECT_FALSE(e.Report.Complete);
  }
  ASSERT_NE(lib.LastPass(), nullptr);
  EXPECT_EQ(lib.LastPass()->Entries.size(), 1u);
  EXPECT_TRUE(lib.LastPass()->Complete);
}

// Every line and progress text of the phases reached comes before the failure, as a pass storing
// entry by entry writes them.
TEST_F(CatalogueTest, AFailedPassWritesTheLinesOfEveryPhaseItReached) {
  g_MapList = {"/proc/self/mem"};
  TGameLib lib(true);
  EXPECT_THROW(RunPass(lib), ELoadPassError);
  EXPECT_EQ(DrainLog(), (std::vector<std::string>{"准备加载 Jpk 资源 [0]", "准备加载 Wzl 资源 [0]",
                                                  "Data 资源全部加载完成!", "准备加载 Map 资源 [1]"}));
  EXPECT_EQ(progress, std::vector<std::string>{"正在加载 map 资源！"});
}

// With no catalogue in place (the first pass, or one after an unload) a failed pass leaves what it
// stored before the failure served, and the megabytes figure counts that; the service is not started.
TEST_F(CatalogueTest, AFailedPassWithNoCatalogueInPlaceServesWhatItStored) {
  UseFullLists();
  TGameLib lib(true);
  RunPass(lib);
  tmp.WriteFile("client/Map/Sub/0.map", "changed");
  g_MapList = {client + "/Map/Sub/0.map", "/proc/self/mem", client + "/Map/Empty.map"};
  uint64_t stored = 0;
  try {
    RunPass(lib);  // after an unload
    FAIL() << "the pass read /proc/self/mem";
  } catch (const ELoadPassError& e) {
    stored = e.Report.StoredBytes();
  }
  EXPECT_EQ(loaded, 1) << "only the first pass called back";
  EXPECT_NE(lib.GetLib("\\data\\items.jpk"), nullptr);
  EXPECT_NE(lib.GetLib("\\data\\hum.wzl"), nullptr);
  EXPECT_EQ(ZlibInflate(lib.GetMapBuff("\\map\\sub\\0.map")), std::optional<std::string>("changed"));
  EXPECT_EQ(lib.GetMap("\\map\\empty.map"), nullptr);
  EXPECT_EQ(lib.GetWav("\\wav\\hit.wav"), nullptr) << "no wav entry of the failed pass";
  EXPECT_GT(stored, 0u);
  EXPECT_EQ(g_nDataMemory, stored);
  ASSERT_NE(lib.LastPass(), nullptr);
  EXPECT_FALSE(lib.LastPass()->Complete);
}

// Until a reload completes, requests are answered from the catalogue before it; then the new one
// is in place at once.
TEST_F(LoaderThreadTest, AReloadServesThePreviousCatalogueUntilItCompletes) {
  UseFullLists();
  TGameLib lib(true);
  RunPass(lib);
  tmp.WriteFile("client/Map/Sub/0.map", "changed");
  tmp.WriteFile("client/Wav/Hit.wav", "changed too");
  ASSERT_TRUE(StartHeldPass(lib));
  EXPECT_EQ(ZlibInflate(lib.GetMapBuff("\\map\\sub\\0.map")), mapBytes);
  EXPECT_EQ(ZlibInflate(lib.GetWavBuff("\\wav\\hit.wav")), wavBytes);
  EXPECT_FALSE(lib.GetImageBuff("\\data\\items.jpk", 0).empty());
  Release();
  ASSERT_TRUE(WaitFor([this] { return passes == 1; }));
  EXPECT_EQ(ZlibInflate(lib.GetMapBuff("\\map\\sub\\0.map")), std::optional<std::string>("changed"));
  EXPECT_EQ(ZlibInflate(lib.GetWavBuff("\\wav\\hit.wav")), std::optional<std::string>("changed too"));
  g_ErrorList.Drain();
}

// The prompt exit: a pass held at its first entry stores nothing more once abandoned.
TEST_F(LoaderThreadTest, AnAbandonedPassStopsBeforeItsNextFileAndStoresNothing) {
  UseFullLists();
  TGameLib lib(true);
  RunPass(lib);
  tmp.WriteFile("client/Map/Sub/0.map", "changed");
  ASSERT_TRUE(StartHeldPass(lib));
  DrainLog();
  lib.AbandonPasses();
  Release();
  lib.Terminate();
  std::this_thread::sleep_for(50ms);
  const auto log = DrainLog();
  EXPECT_FALSE(Contains(log, "准备加载 Wzl 资源 [1]"));
  EXPECT_FALSE(Contains(log, "[Exception] TGameLib::Execute Error "));
  EXPECT_EQ(ZlibInflate(lib.GetMapBuff("\\map\\sub\\0.map")), mapBytes);
  std::lock_guard lock(m);
  EXPECT_EQ(passes, 0);
}

TEST_F(LoaderThreadTest, AServedLibraryChangedOnDiskIsToldOnceAskingForAReload) {
  UseFullLists();
  TGameLib lib(true);
  RunPass(lib);
  DrainLog();
  lib.Resume();
  const std::string line = "\\data\\hum.wzl 资源文件已被修改，请重新加载微端资源！";
  std::filesystem::resize_file(client + "/Data/Hum.wzl", 100);
  std::vector<std::string> log;
  for (int i = 0; i < 500 && !Contains(log, line); ++i) {
    for (auto& l : DrainLog()) log.push_back(l);
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(Contains(log, line));
  AppendFileBytes(client + "/Data/Hum.wzl", "more");
  AppendFileBytes(client + "/Data/Hum.wzx", "more");  // the library's other file
  std::this_thread::sleep_for(1200ms);
  for (auto& l : DrainLog()) log.push_back(l);
  EXPECT_EQ(std::count(log.begin(), log.end(), line), 1);
  EXPECT_EQ(log.size(), 1u) << "the other libraries did not change";
}

TEST_F(LoaderThreadTest, DetachedCallbacksAreNotCalled) {
  TGameLib lib(true);
  Attach(lib);
  lib.DetachCallbacks();
  lib.Resume();
  lib.SetLoadLib(CurrentLoadLists());
  for (int i = 0; i < 1000 && lib.LoadLib(); ++i) std::this_thread::sleep_for(1ms);
  // The destructor waits for the pass under way.
}

// Readers never see a released entry: every payload is empty or exactly right while the loader
// reloads and the catalogue is cleared again and again.
TEST_F(LoaderThreadTest, ConcurrentReadersDuringReloadAndClear) {
  UseFullLists();
  TGameLib lib(true);
  RunPass(lib);
  const std::string img = lib.GetImageBuff("\\data\\hum.wzl", 2);
  const std::string jpk = lib.GetImageBuff("\\data\\items.jpk", 0);
  const std::string hdr = lib.GetHeaderBuff("\\data\\items.jpk");
  const std::string map = lib.GetMapBuff("\\map\\sub\\0.map");
  const std::string wav = lib.GetWavBuff("\\wav\\hit.wav");
  lib.SetShowLabel(nullptr);
  lib.SetBackLoad(nullptr);
  lib.Resume();

  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0}, served{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 32; ++t) {
    readers.emplace_back([&, t] {
      std::mt19937 rng(t);
      while (!stop) {
        std::string got, want;
        switch (rng() % 5) {
          case 0: got = lib.GetImageBuff("\\data\\hum.wzl", 2), want = img; break;
          case 1: got = lib.GetImageBuff("\\data\\items.jpk", 0), want = jpk; break;
          case 2: got = lib.GetHeaderBuff("\\data\\items.jpk"), want = hdr; break;
          case 3: got = lib.GetMapBuff("\\map\\sub\\0.map"), want = map; break;
          default: got = lib.GetWavBuff("\\wav\\hit.wav"), want = wav; break;
        }
        if (!got.empty() && got != want) ++wrong;
        if (!got.empty()) ++served;
      }
    });
  }
  for (int round = 0; round < 20; ++round) {
    lib.SetLoadLib(CurrentLoadLists());
    std::this_thread::sleep_for(5ms);
    lib.Clear();
  }
  lib.SetLoadLib(CurrentLoadLists());
  std::this_thread::sleep_for(50ms);
  stop = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(served, 0);
  g_ErrorList.Drain();
}

}  // namespace

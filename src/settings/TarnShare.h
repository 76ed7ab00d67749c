// Process-wide state: the settings and Config.ini, the four resource lists and their files, the
// operator log queue.
//
// Threads: the settings and lists are written by the window thread (dialogs, start-up) and read by
// the loader thread, which copies what it needs under g_ConfigLock. The log queue may be used from
// any thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// ---- Settings kept in Config.ini (section "Setup") ----
extern std::string g_sTitle;                  // "Varrow微端"
extern std::atomic<uint16_t> g_nServerPort;   // 8800
extern std::string g_sSearchDir;              // client installation root; empty
extern std::string g_sWClientDir;             // "Resources"
extern std::string g_sWClientPass;            // code page 936 bytes; "418K7_p2593"
// ---- Kept in memory only ----
extern std::atomic<uint16_t> g_nMaxBandwidth;  // megabytes per second; 100

// Guards the settings and the four lists while the window thread edits them and the loader thread
// copies them.
extern std::mutex g_ConfigLock;

// ---- Derived directories and file names ----
extern std::string g_ResBaseDir;    // "Resources/"
extern std::string g_ResHumanDir;   // "Resources/Graphics/Human/"
extern std::string g_ResWeaponDIr;  // "Resources/Graphics/Weapon/"
extern std::string g_ResDataDir;    // "Resources/Data/"
extern std::string g_ResMapDir;     // "Resources/Map/"
extern std::string g_ResWavDir;     // "Resources/Wav/"
extern std::string g_MyDir;         // directory of the executable, no trailing separator
extern const std::string g_sConfigFile;       // "./Config.ini"
extern const std::string g_sFileJpk;          // "./JpkList.txt"
extern const std::string g_sFileWzl;          // "./WzlList.txt"
extern const std::string g_sFileMap;          // "./MapList.txt"
extern const std::string g_sFileWav;          // "./WavList.txt"
// Sets the six g_Res... directories below the resource sub-directory `sResDir`.
void SetResDirs(const std::string& sResDir);

// ---- Lists ----
struct TNameValue {
  std::string Name;
  std::string Value;
};

// Ordered name/value pairs whose names are unique without regard to ASCII case; a pair keeps the
// place where its name first appeared.
class TNameValueList {
 public:
  // Adds the pair, or replaces the value of the pair with that name in its old place.
  void SetValue(const std::string& name, const std::string& value);
  int IndexOfName(const std::string& name) const;  // -1 when absent
  void Delete(size_t index);
  void Clear() {
    items_.clear();
    index_.clear();
  }
  size_t Count() const { return items_.size(); }
  const TNameValue& operator[](size_t i) const { return items_[i]; }
  const std::vector<TNameValue>& Items() const { return items_; }

 private:
  std::vector<TNameValue> items_;
  std::unordered_map<std::string, size_t> index_;  // name with A-Z lowered -> position
};

extern TNameValueList g_JpkList;            // JPK library path -> password
extern std::vector<std::string> g_WzlList;  // kind 0
extern std::vector<std::string> g_MapList;  // kind 1
extern std::vector<std::string> g_WavList;  // kind 2
// Client address -> time; shown by the security filter dialog, never filled.
extern std::unordered_map<int32_t, std::time_t> g_IPaddrList;

// ---- Operator log queue ----
// Lines queued from any thread, drained in order by the window's timer or the daemon.
class TLogQueue {
 public:
  void Append(std::string line);
  std::vector<std::string> Drain();
  // Waits up to `timeout` for a line, then drains.
  std::vector<std::string> WaitDrain(std::chrono::milliseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<std::string> lines_;
};
extern TLogQueue g_ErrorList;

// Queues "[<date time>] <sMsg>".
void MainOutMessage(const std::string& sMsg);

// Puts every variable above back to its initial value and empties the address block lists
// (program start; tests).
void InitSharedState();

// ---- Settings and list files ----
// The loaders read the file first and then store into the variables under g_ConfigLock, so they
// must not be called while holding it. The savers read the variables without the lock: call them
// from the thread that writes the settings. A missing Config.ini or key keeps the current value,
// a missing JPK list keeps g_JpkList, a missing plain list empties its list; malformed lines are
// skipped. Input/output failures throw EInOutError, except when reading a settings file: one
// that cannot be read counts as missing (LoadConfig, ReadConfigFile).
void LoadConfig();
// The Setup values of a settings file by themselves, for reading a deployment without touching
// the process-wide settings: initial values, overwritten by the keys the file has.
struct TSetupValues {
  std::string Title;
  uint16_t Port;
  std::string SearchDir;
  std::string WClientDir;
  std::string WClientPass;  // code page 936
};
TSetupValues ReadConfigFile(const std::string& fileName);
// The pairs of a JPK list file and the lines of a plain list file, as the loaders read them;
// nothing for a missing file.
std::vector<TNameValue> ReadJpkListFile(const std::string& fileName);
std::vector<std::string> ReadLibListFile(const std::string& fileName);
// Throws EInOutError("Unable to write to <file>") and leaves the old file whole on failure.
void SaveConfig();
void LoadJpkList();
void SaveJpkList();
void LoadLibList(uint8_t nType);
void SaveLibList(uint8_t nType);

// One line of the JPK list (UTF-8, as read): false for a comment, or a line whose name or
// password is empty; else the pair (UTF-8). The fields are cut on "|" and TAB in code page 936.
bool ParseJpkListLine(const std::string& line, TNameValue& pair);
// A Port value: hexadecimal after "0x" (any case) when longer than two characters, else
// decimal; its low 16 bits. False, leaving `port` alone, when it is no integer.
bool ParsePortValue(std::string_view text, uint16_t& port);

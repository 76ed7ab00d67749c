// The address block lists the operator maintains: a permanent list of single addresses, a temporary
// one, and a list of ranges, with their two files. Nothing on the request path consults them.
// Threads: the window thread (and the start sequence) only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A range in host order (a.b.c.d is a×2^24 + b×2^16 + c×2^8 + d); Low never above High.
struct TIPArea {
  uint32_t Low;
  uint32_t High;
};
static_assert(sizeof(TIPArea) == 8);

struct TBlockIP {
  std::string sIP;  // the text as read or typed
  int32_t nIP;      // its inet_addr value
};

struct TBlockIPArea {
  std::string sText;               // the line as read or typed
  std::shared_ptr<TIPArea> Area;   // shared with the dialog's list
};

extern std::vector<TBlockIP> g_BlockIPList;
extern std::vector<TBlockIP> g_TempBlockIPList;
extern std::vector<TBlockIPArea> g_BlockIPAreaList;

extern const std::string g_sFileBlockIP;      // "./BlockIPList.txt"
extern const std::string g_sFileBlockIPArea;  // "./BlockIPAreaList.txt"

// Byte reversal: turns an inet_addr value into the host-order number and back.
uint32_t ReverseIP(uint32_t dwIP);
// Which bound of a range text is no address, the low one being looked at first.
enum class TIPAreaError { None, Low, High };
// Parses "low-high" (UTF-8) as the range file does: the bounds are cut in code page 936 on the
// first run of "-", read with inet_addr and put in order. `area` is valid only for None.
TIPAreaError CheckIPArea(const std::string& text, TIPArea& area);
// The same; false when either bound is no address.
bool ParseIPArea(const std::string& text, TIPArea& area);

// Empties the three lists (program start; tests).
void ClearBlockIPLists();

// Missing files are created empty. File errors throw EInOutError.
void LoadBlockIPList();
void SaveBlockIPList();
void LoadBlockIPAreaList();
void SaveBlockIPAreaList();

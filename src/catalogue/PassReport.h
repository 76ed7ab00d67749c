// What one load pass made of every listed entry: a plain record list in list order, for whatever
// shows the catalogue's state (the not-loaded lines, the metrics, a resource view) to format. The
// pass decides each state once; nothing opens a file again to find out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/ResourceList.h"

// What became of one listed entry. New states and refusals are added at the end; a formatter
// that does not know one shows it as not loaded.
enum class TEntryState : uint8_t { Stored, Missing, Refused, Unreadable };
inline constexpr size_t kEntryStates = 4;

enum class TRefusal : uint8_t {
  None,
  NoLibrary,      // the factory made nothing of the file (its extension names neither kind)
  WrongPassword,  // a JPK library refused its password
  NoPassword,     // a JPK list entry without a password; the file is not opened
};

struct TPassEntry {
  TResourceList List = TResourceList::Jpk;
  size_t Index = 0;     // position in its list
  std::string Path;     // as listed (UTF-8)
  std::string Key;      // catalogue key (UTF-8, before code page 936); empty when Missing
  TEntryState State = TEntryState::Missing;
  TRefusal Refusal = TRefusal::None;  // Refused: why
  std::string Error;    // Unreadable: the error of the read
  uint64_t Bytes = 0;   // Stored: the file size of a library, the stored zlib stream of a map or wav
};

struct TPassReport {
  // One entry per non-empty line of the four lists, in the order of the pass. A pass that fails
  // ends with its Unreadable entry; one abandoned ends where it stopped.
  std::vector<TPassEntry> Entries;
  // The pass went through every list and its catalogue is the one served.
  bool Complete = false;

  size_t Count(TEntryState state) const;
  // Bytes of the Stored entries: what the catalogue took in.
  uint64_t StoredBytes() const;
};

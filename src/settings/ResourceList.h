// The four resource lists, numbered once for every layer: the order a load pass reads them in,
// the lists a pass report names, and the kind numbers of the plain list files.
#pragma once

#include <cstddef>
#include <cstdint>

enum class TResourceList : uint8_t { Jpk, Wzl, Map, Wav };
inline constexpr size_t kResourceLists = 4;

// The kind number LoadLibList and SaveLibList take for a plain list: 0 WZL, 1 map, 2 wav (the JPK
// list has its own loader).
constexpr uint8_t LibListType(TResourceList list) { return static_cast<uint8_t>(static_cast<uint8_t>(list) - 1); }
constexpr TResourceList LibListOfType(uint8_t nType) { return static_cast<TResourceList>(nType + 1); }

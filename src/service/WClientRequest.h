// A game client's request, parsed once from its path (a request the event loop passes on to a
// worker takes its parsed form along): the index-table request, a library header, an image, a map
// or a wav under a catalogue key, an image request without an image field, or a refusal with its
// error code and work-log line. Free functions without shared state; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>

enum class TWClientRequestKind : uint8_t {
  Refused,       // nCode and LogLine say why
  CheckIndexes,  // the index table; Token is what the throttle counts by
  NoImageField,  // a library entry asked for without naming one: counted, then answered 400
  Header,        // Key
  Image,         // Key, nIndex
  Map,           // Key
  Wav,           // Key
};

struct TWClientRequest {
  TWClientRequestKind Kind = TWClientRequestKind::Refused;
  int32_t nCode = 0;    // Refused: the code on the error page, -1 to -4
  std::string LogLine;  // Refused: the work-log line (UTF-8)
  std::string Token;    // CheckIndexes
  std::string Key;      // "\dir\file" as decoded, code page 936
  int32_t nIndex = -1;  // Image: the image number; -1 when the field is no number
};

// Parses "/wclientdat/<token>/<type>.html" (or ".../check-indexes"), decoding the token with the
// 16-byte key. The type 1 or 2 asks for a library entry, 3 a map, 4 or 5 a wav.
TWClientRequest ParseWClientRequest(const std::string& url, const std::array<uint8_t, 16>& KeyPassBytes);

// Escapes every control byte (below 0x20, and 0x7F) as \xNN so request text always stays one
// work-log line.
std::string EscapeControlBytes(const std::string& s);

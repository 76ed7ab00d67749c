// One-call DEFLATE coding: zlib streams (RFC 1950) for the stored map and wav files and the index
// table, raw streams (RFC 1951) for the HTTP content coding, and their inverse for the tools and
// tests that check what the server sends. Free functions; any thread (each keeps its own coder).
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Compresses `in` into a zlib stream at `level` (1 to 12). `scratch`, when given, is reused across
// calls so each call allocates only its exact result.
std::string ZlibCompress(std::string_view in, int level, std::string* scratch = nullptr);
// Compresses `in` into a raw DEFLATE stream (no header, no checksum) at `level`.
std::string RawDeflate(std::string_view in, int level);
// Inflates a complete zlib stream (or, with `raw`, a raw deflate stream); nothing when the data is
// not such a stream or would inflate to more than `limit` bytes.
std::optional<std::string> ZlibInflate(std::string_view in, bool raw = false,
                                       size_t limit = size_t{1} << 30);

// One-call zlib streams (RFC 1950) and their inverse, for the stored map and wav files, the index
// table and the tools that check what the server sends. Free functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Compresses `in` into a zlib stream at `level`. `scratch`, when given, is reused across calls
// so each call allocates only its exact result. Throws std::runtime_error when zlib fails.
std::string ZlibCompress(std::string_view in, int level, std::string* scratch = nullptr);
// Inflates a complete zlib stream (or, with `raw`, a raw deflate stream); nothing when the data is
// not such a stream or would inflate to more than `limit` bytes.
std::optional<std::string> ZlibInflate(std::string_view in, bool raw = false,
                                       size_t limit = size_t{1} << 30);

// Conversions between the program's text (UTF-8) and the 8-bit code page 936 that files, tokens,
// keys and response bodies use. The only place that converts; safe from any thread.
#pragma once

#include <string>
#include <string_view>

// UTF-8 to code page 936; a character without a code-page form becomes "?".
std::string AnsiFromUtf8(std::string_view utf8);
// Code page 936 to UTF-8; a byte sequence that is not valid code page 936 becomes "?".
std::string Utf8FromAnsi(std::string_view ansi);
// UTF-8 to UTF-16 code units, for rules defined on UTF-16 text (hashes, digit positions); each
// malformed sequence becomes U+FFFD.
std::u16string Utf16FromUtf8(std::string_view utf8);
// UTF-16 code units (little- or big-endian bytes) to UTF-8; unpaired surrogates become "?".
std::string Utf8FromUtf16Bytes(std::string_view bytes, bool bigEndian);
// Bytes of the UTF-8 sequence at the start of non-empty `s`: the lead byte and the continuation
// bytes that follow it, as many as it announces (1 for a byte that starts none).
size_t Utf8SequenceLength(std::string_view s);

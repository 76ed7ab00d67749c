// Field splitters and number conversions used by every parser of the system (request paths and
// tokens, list-file lines, address ranges). Free functions without shared state: safe from any
// number of threads at once. Results are owned by the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Sources this long or longer are refused by the splitters (empty field, empty remainder).
constexpr size_t kMaxValidStrLen = 204799;

// Cuts the first field off an 8-bit string. Any byte of `Divider` ends a field; delimiters before
// the field are skipped, so a run of delimiters never yields an empty field. `Dest` receives the
// field, cut at its first NUL byte; the result is everything after the closing delimiter.
std::string GetValidStr32(std::string_view Str, std::string& Dest, std::string_view Divider);
// As GetValidStr32, but only a blank or TAB delimiter is skipped before the field; any other
// delimiter met first closes an empty field.
std::string GetValidStr3(std::string_view Str, std::string& Dest, std::string_view Divider);

// Sum of the hexadecimal digits of `str`, the last one least significant, with 32-bit
// wrap-around; a character that is no hexadecimal digit counts as 0 but keeps its place.
int32_t Hex_ToInt(std::string_view str);
// Value of 0-9, A-F, a-f; 0 for any other byte.
int HexDigitValue(char c);

// Whole-text conversion: optional sign, then decimal digits or "0x" and hexadecimal digits.
// False for any other character, a blank included, or a value that does not fit in 64 bits.
bool TryStrToInt64(std::string_view s, int64_t& value);
// The low 32 bits of the 64-bit value of `Str`, or `def` when it does not begin with a digit,
// "+" or "-", or is no integer.
int32_t Str_ToInt(std::string_view Str, int32_t def);
// As Str_ToInt, but a value outside the signed 32-bit range is no integer either: `def`.
int32_t StrToInt32Def(std::string_view Str, int32_t def);

// File name without directory and extension: "D:\data\Hum.wzl" -> "Hum". "\", ":" and "/" all
// end the directory part.
std::string ExtractFileNameOnly(std::string_view fname);

// The request token of the resource protocol: "dir|file|image" scrambled with the micro-client
// key (the MD5 of the password) and written as hexadecimal text. Free functions, any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// Unscrambles a request token (hexadecimal text) with the 16-byte key.
std::string SimpleDeStringMsg(std::string_view Src, const std::array<uint8_t, 16>& KeyBytes);
// The client's inverse: scrambles plain bytes into a token (upper-case hexadecimal).
std::string SimpleEnStringMsg(std::string_view Plain, const std::array<uint8_t, 16>& KeyBytes);

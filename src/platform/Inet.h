// IPv4 address text, parsed and written as the classic socket functions do.
#pragma once

#include <cstdint>
#include <string>

// The address in network byte order (first number in the lowest byte), or 0xFFFFFFFF
// (INADDR_NONE) for text that is no address; accepts the short, octal and hexadecimal forms.
uint32_t InetAddr(const std::string& text);
// Dotted text of an address in network byte order.
std::string InetNtoa(uint32_t addr);

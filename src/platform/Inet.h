// IP address text, parsed and written as the classic socket functions do, and the one socket
// call the front end makes itself.
#pragma once

#include <cstdint>
#include <string>

// The address in network byte order (first number in the lowest byte), or 0xFFFFFFFF
// (INADDR_NONE) for text that is no address; accepts the short, octal and hexadecimal forms.
uint32_t InetAddr(const std::string& text);
// Dotted text of an address in network byte order.
std::string InetNtoa(uint32_t addr);
// True for an IPv4 address in dotted form or an IPv6 address.
bool IsIpAddress(const std::string& text);
// Shuts both directions of a connected socket down (its native handle): the pending operations on
// it fail, while the handle stays open for its owner to close.
void ShutdownSocket(uintptr_t handle);

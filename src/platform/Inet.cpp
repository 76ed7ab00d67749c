#include "platform/Inet.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

uint32_t InetAddr(const std::string& text) { return ::inet_addr(text.c_str()); }

std::string InetNtoa(uint32_t addr) {
  in_addr a{};
  a.s_addr = addr;
  char buf[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

bool IsIpAddress(const std::string& text) {
  unsigned char bytes[16];
  return inet_pton(AF_INET, text.c_str(), bytes) == 1 || inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

void ShutdownSocket(uintptr_t handle) { ::shutdown(static_cast<int>(handle), SHUT_RDWR); }

#include "platform/Inet.h"

#include <arpa/inet.h>
#include <netinet/in.h>

uint32_t InetAddr(const std::string& text) { return ::inet_addr(text.c_str()); }

std::string InetNtoa(uint32_t addr) {
  in_addr a{};
  a.s_addr = addr;
  char buf[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

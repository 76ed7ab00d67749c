#include "platform/Inet.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

// Windows Sockets count their users; the front end's library starts its own use too.
struct TSocketsStarted {
  TSocketsStarted() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~TSocketsStarted() { WSACleanup(); }
};

void StartSockets() { static TSocketsStarted started; }

}  // namespace

uint32_t InetAddr(const std::string& text) {
  StartSockets();
  return ::inet_addr(text.c_str());
}

std::string InetNtoa(uint32_t addr) {
  StartSockets();
  in_addr a{};
  a.s_addr = addr;
  char buf[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

bool IsIpAddress(const std::string& text) {
  StartSockets();
  unsigned char bytes[16];
  return inet_pton(AF_INET, text.c_str(), bytes) == 1 || inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

void ShutdownSocket(uintptr_t handle) { ::shutdown(static_cast<SOCKET>(handle), SD_BOTH); }

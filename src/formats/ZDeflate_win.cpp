// The coding half of formats/ZStream.h on Windows: zlib at the levels asked for (libdeflate is
// not built for Windows here). Streams differ in bytes from the Linux build's, not in content.
#include "formats/ZStream.h"

#include <zlib.h>

#include <algorithm>
#include <new>
#include <stdexcept>

namespace {

// zlib's levels end at 9; libdeflate's 10 to 12 (slower, smaller) map to its best.
int ZlibLevel(int level) {
  if (level < 1 || level > 12) throw std::invalid_argument("compression level out of range");
  return std::min(level, 9);
}

// One-shot deflate of `in` into a zlib stream (windowBits 15) or a raw stream (-15).
std::string Code(std::string_view in, int level, int windowBits, std::string* scratch) {
  if (in.size() > 0xFFFFFFFFu) throw std::length_error("deflate input too long");
  z_stream zs{};
  if (deflateInit2(&zs, ZlibLevel(level), Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
  std::string local;
  std::string& buf = scratch ? *scratch : local;
  const size_t room = deflateBound(&zs, static_cast<uLong>(in.size()));
  if (buf.size() < room) buf.resize(room);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs.avail_in = static_cast<uInt>(in.size());
  zs.next_out = reinterpret_cast<Bytef*>(buf.data());
  zs.avail_out = static_cast<uInt>(room);
  const int rc = deflate(&zs, Z_FINISH);
  const size_t n = room - zs.avail_out;
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");  // cannot happen with the bound's room
  if (!scratch) {
    local.resize(n);
    return local;
  }
  return buf.substr(0, n);
}

}  // namespace

std::string ZlibCompress(std::string_view in, int level, std::string* scratch) { return Code(in, level, 15, scratch); }

std::string RawDeflate(std::string_view in, int level) { return Code(in, level, -15, nullptr); }

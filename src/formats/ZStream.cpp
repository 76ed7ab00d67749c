#include "formats/ZStream.h"

#include <zlib.h>

std::optional<std::string> ZlibInflate(std::string_view in, bool raw, size_t limit) {
  z_stream zs{};
  if (inflateInit2(&zs, raw ? -15 : 15) != Z_OK) return std::nullopt;
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs.avail_in = static_cast<uInt>(in.size());
  std::string out;
  char chunk[65536];
  int rc = Z_OK;
  while (rc == Z_OK) {
    zs.next_out = reinterpret_cast<Bytef*>(chunk);
    zs.avail_out = sizeof chunk;
    rc = inflate(&zs, Z_NO_FLUSH);
    out.append(chunk, sizeof chunk - zs.avail_out);
    if (out.size() > limit) rc = Z_MEM_ERROR;
    if (rc == Z_BUF_ERROR && zs.avail_in == 0) break;  // input ended before the stream did
  }
  const bool ok = rc == Z_STREAM_END && zs.avail_in == 0;
  inflateEnd(&zs);
  if (!ok) return std::nullopt;
  return out;
}

// The coding half of formats/ZStream.h on Linux: libdeflate (see the README's deliberate
// differences).
#include "formats/ZStream.h"

#include <libdeflate.h>

#include <array>
#include <memory>
#include <new>
#include <stdexcept>

namespace {

struct TFreeCompressor {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// libdeflate codes a whole buffer about twice as fast as zlib at the same level (and zlib's
// streams inflate the result alike). A compressor costs more to allocate than a typical body
// costs to code, so each thread keeps one per level.
libdeflate_compressor* Compressor(int level) {
  thread_local std::array<std::unique_ptr<libdeflate_compressor, TFreeCompressor>, 13> compressors;
  if (level < 1 || level > 12) throw std::invalid_argument("compression level out of range");
  auto& c = compressors[static_cast<size_t>(level)];
  if (!c) c.reset(libdeflate_alloc_compressor(level));
  if (!c) throw std::bad_alloc();
  return c.get();
}

template <typename Bound, typename Compress>
std::string Code(std::string_view in, int level, std::string* scratch, Bound bound, Compress compress) {
  libdeflate_compressor* c = Compressor(level);
  std::string local;
  std::string& buf = scratch ? *scratch : local;
  const size_t room = bound(c, in.size());
  if (buf.size() < room) buf.resize(room);
  const size_t n = compress(c, in.data(), in.size(), buf.data(), room);
  if (n == 0) throw std::runtime_error("deflate failed");  // cannot happen with the bound's room
  if (!scratch) {
    local.resize(n);
    return local;
  }
  return buf.substr(0, n);
}

}  // namespace

std::string ZlibCompress(std::string_view in, int level, std::string* scratch) {
  return Code(in, level, scratch, libdeflate_zlib_compress_bound, libdeflate_zlib_compress);
}

std::string RawDeflate(std::string_view in, int level) {
  return Code(in, level, nullptr, libdeflate_deflate_compress_bound, libdeflate_deflate_compress);
}

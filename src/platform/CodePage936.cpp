// Code page 936 on Linux: glibc's iconv.
#include "platform/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

#include "platform/AsciiText.h"

namespace {

// iconv descriptors are not thread-safe; each thread keeps its own pair.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    }
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts `in`; on a sequence that cannot be converted, writes "?" and skips `skip(rest)` bytes.
  template <typename Skip>
  std::string Run(std::string_view in, Skip skip) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    out.resize(in.size() * 2 + 16);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    size_t used = 0;
    while (srcLeft > 0) {
      char* dst = out.data() + used;
      size_t dstLeft = out.size() - used;
      size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      used = out.size() - dstLeft;
      if (rc != static_cast<size_t>(-1)) break;
      if (errno == E2BIG) {
        out.resize(out.size() * 2);
        continue;
      }
      // EILSEQ or EINVAL: replace one unconvertible unit.
      if (out.size() - used < 1) out.resize(out.size() * 2);
      out[used++] = '?';
      size_t n = skip(std::string_view(src, srcLeft));
      src += n;
      srcLeft -= n;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(used);
    return out;
  }

 private:
  iconv_t cd_;
};

}  // namespace

std::string AnsiFromUtf8(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  thread_local Converter conv("CP936", "UTF-8");
  return conv.Run(utf8, Utf8SequenceLength);
}

std::string Utf8FromAnsi(std::string_view ansi) {
  if (IsAscii(ansi)) return std::string(ansi);
  thread_local Converter conv("UTF-8", "CP936");
  return conv.Run(ansi, [](std::string_view) { return size_t{1}; });
}

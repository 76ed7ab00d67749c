#include "service/WClientRequest.h"

#include "platform/AsciiText.h"
#include "platform/CodePage.h"
#include "platform/HUtil32.h"
#include "service/RequestToken.h"

namespace {

// Escaped after the conversion: a lead byte followed by a control byte becomes "?" there, so it
// cannot swallow the backslash of the escape.
std::string WorkLogText(const std::string& bytes) { return EscapeControlBytes(Utf8FromAnsi(bytes)); }

// The type and image fields of a request are cut only at "\" and ":", never at "/": what a game
// client sends must read the same on every host.

// Removes the extension: everything from the last "." on, unless a separator follows it.
std::string StripExtension(const std::string& s) {
  const size_t p = s.find_last_of(".\\:");
  return (p != std::string::npos && s[p] == '.') ? s.substr(0, p) : s;
}

std::string AfterLastSeparator(const std::string& s) {
  const size_t p = s.find_last_of("\\:");
  return p == std::string::npos ? s : s.substr(p + 1);
}

TWClientRequest Refused(int32_t nCode, std::string logLine) {
  TWClientRequest r;
  r.nCode = nCode;
  r.LogLine = std::move(logLine);
  return r;
}

// A library entry: "Header" in any letter case, else the image number, each after dropping any
// directory and extension the client wrote.
void ParseImageField(const std::string& sImage, TWClientRequest& r) {
  const std::string field = AfterLastSeparator(StripExtension(sImage));
  if (SameTextAscii(field, "Header")) {
    r.Kind = TWClientRequestKind::Header;
  } else {
    r.Kind = TWClientRequestKind::Image;
    // A number beyond 32 bits names no image; it must not wrap round to one.
    r.nIndex = StrToInt32Def(field, -1);
  }
}

}  // namespace

std::string EscapeControlBytes(const std::string& s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

TWClientRequest ParseWClientRequest(const std::string& url, const std::array<uint8_t, 16>& KeyPassBytes) {
  if (url.empty()) return Refused(-1, "异常访问");

  std::string sHeader, sEncode, sType;
  std::string rest = GetValidStr32(url, sHeader, "/");
  rest = GetValidStr32(rest, sEncode, "/");
  GetValidStr32(rest, sType, "/");

  const bool isRoot = SameTextAscii(sHeader, "wclientdat");
  if (isRoot && !sEncode.empty() && sType == "check-indexes") {
    TWClientRequest r;
    r.Kind = TWClientRequestKind::CheckIndexes;
    r.Token = std::move(sEncode);
    return r;
  }
  if (!isRoot || sEncode.empty() || sType.empty() || sType.find(".html") == std::string::npos) {
    return Refused(-2, "错误格式：" + WorkLogText(url));
  }
  const int32_t nType = Str_ToInt(StripExtension(sType), 0);
  if (nType < 1 || nType > 5) {
    return Refused(-3, "错误资源：" + WorkLogText(url) + "/" + std::to_string(nType));
  }

  const std::string sDecrypt = SimpleDeStringMsg(sEncode, KeyPassBytes);
  std::string sDir, sLib, sImage;
  rest = GetValidStr32(sDecrypt, sDir, "|");
  rest = GetValidStr32(rest, sLib, "|");
  GetValidStr32(rest, sImage, "|");
  if (sDir.empty() || sLib.empty()) {
    return Refused(-4, "解密失败：" + WorkLogText(url) + "/" + WorkLogText(sDecrypt));
  }

  TWClientRequest r;
  r.Key = "\\" + sDir + "\\" + sLib;
  if (nType <= 2) {
    if (sImage.empty()) {
      r.Kind = TWClientRequestKind::NoImageField;
    } else {
      ParseImageField(sImage, r);
    }
  } else {
    r.Kind = nType == 3 ? TWClientRequestKind::Map : TWClientRequestKind::Wav;
  }
  return r;
}

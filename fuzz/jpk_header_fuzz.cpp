// The JPK reader's header decipher, password check and version-2 hash table, on stored bytes and
// arbitrary passwords. Input: data[0] % 16 password bytes follow it (UTF-8, as the lists hold it),
// then the file as stored, header enciphered. RC4 is a stream cipher, so a mutated stored byte is
// the same bit change in the deciphered header.
//
// Checks: deciphering is its own inverse; the reader's verdict, version, header, index and hash
// table agree with what the deciphered header and the index bytes say.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "formats/Jpk.h"
#include "formats/MD5.h"
#include "formats/WIL.h"
#include "formats/uEncodeJpk.h"
#include "platform/CodePage.h"
#include "platform/ReadFile.h"

namespace {

using fuzz::Check;

bool IsMd5Text(std::string_view s) {
  return s.size() == 32 && std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'f'); });
}

// What the reader must have made of the header and index it served.
void CheckOpened(TJpkLib& lib, const TJpkHeader& header, bool v2) {
  Check(lib.ImageMode() == (v2 ? TImageMode::Tarn2Jpkv2 : TImageMode::Tarn2Jpk));
  Check(lib.IndexLength() == (v2 ? 20 : 4));
  Check(std::memcmp(&lib.Header(), &header, sizeof header) == 0);
  const std::optional<std::string> block = lib.GetWClientHeader();
  Check(block.has_value());
  const size_t count = static_cast<size_t>(lib.ImageCount());
  Check(count <= header.ImageCount);
  Check(block->size() == 88 + count * static_cast<size_t>(lib.IndexLength()));
  Check(std::memcmp(block->data() + 8, &header, sizeof header) == 0);
  const std::string_view index(block->data() + 88, block->size() - 88);
  Check(lib.IndexesHash() == (index.empty() ? std::string() : MD5Print(MD5Input(index.data(), static_cast<uint32_t>(index.size())))));

  const THStringList2& table = lib.HashTable();
  Check(table.Count() == (v2 ? static_cast<int>(count) : 0));
  for (int i = 0; i < table.Count(); ++i) {
    TIndexHash entry;
    std::memcpy(&entry, index.data() + 20 * static_cast<size_t>(i), sizeof entry);
    MD5Digest digest;
    std::memcpy(digest.data(), entry.HashDigest, digest.size());
    Check(table.Strings(i) == MD5Print(digest) && IsMd5Text(table.Strings(i)));
    Check(table.Objects(i) == entry.Position);
  }
}

}  // namespace

// Corrupt entries are the common case here: reporting each to the debug file would write a file
// per input and grow it without end.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetDebugFileEnabled(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const size_t passLen = std::min<size_t>(data[0] % 16, size - 1);
  const std::string password(in.substr(1, passLen));
  const std::string_view file = in.substr(1 + passLen);

  // The reader reads 80 bytes whatever the file holds; missing ones read as zero.
  std::string raw(file.substr(0, sizeof(TJpkHeader)));
  raw.resize(sizeof(TJpkHeader), '\0');
  const std::string key = AnsiFromUtf8(password);
  const std::optional<std::string> plain = DecodeDcpBuf(key, raw.data(), static_cast<int32_t>(raw.size()));
  Check(plain.has_value() == !key.empty());
  TJpkHeader header{};
  bool ok = false, v2 = false;
  if (plain) {
    Check(plain->size() == raw.size());
    Check(DecodeDcpBuf(key, plain->data(), static_cast<int32_t>(plain->size())) == raw);
    std::memcpy(&header, plain->data(), sizeof header);
    const std::string_view title(header.Title, std::min<size_t>(header.TitleLen, sizeof header.Title));
    ok = title.find("GameLib") != std::string_view::npos;
    v2 = title.find("GameLib v2.0") != std::string_view::npos;
  }

  TMemoryFiles files;
  files.Put("lib.jpk", std::string(file));
  std::unique_ptr<TWMImages> opened = InitializeGameImage("lib.jpk", password, true, files);
  auto* lib = dynamic_cast<TJpkLib*>(opened.get());
  Check(lib != nullptr);
  Check(lib->PasswordOk() == ok);
  if (ok) CheckOpened(*lib, header, v2);
  return 0;
}

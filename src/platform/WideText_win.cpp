#include "platform/WideText.h"

#include <windows.h>

#include <climits>

#include "platform/CodePage.h"

std::wstring WideFromUtf8(std::string_view utf8) {
  const std::u16string units = Utf16FromUtf8(utf8);
  return std::wstring(units.begin(), units.end());
}

std::string Utf8FromWide(std::wstring_view wide) {
  return Utf8FromUtf16Bytes(
      std::string_view(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t)), false);
}

std::string SystemErrorText(unsigned long code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n && text ? std::wstring(text, n) : L"error " + std::to_wstring(code);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) message.pop_back();
  return Utf8FromWide(message);
}

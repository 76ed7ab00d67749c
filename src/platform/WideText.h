// Windows only: UTF-8 text to and from the UTF-16 of the system's wide calls (paths, console).
// Malformed input becomes U+FFFD / "?" rather than failing. Any thread.
#pragma once

#include <string>
#include <string_view>

std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);
// Text of a system error code (GetLastError) in UTF-8, without the trailing line break.
std::string SystemErrorText(unsigned long code);

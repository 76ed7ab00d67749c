// JSON text for the browser console's API. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

// Appends `utf8` as a JSON string literal: quotes, backslashes and control characters escaped,
// and every malformed UTF-8 sequence written as U+FFFD (an encoded surrogate as "?", as the code
// page converter writes it), so the result is valid JSON whatever bytes a path or log line holds.
void AppendJsonString(std::string& out, std::string_view utf8);
std::string JsonString(std::string_view utf8);

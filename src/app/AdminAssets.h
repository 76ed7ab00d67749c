// The browser console's own files (its page, script and style from src/app/admin/, and the chart
// library from Debian's Chart.js), built into the program at build time so that the console works
// with no network and serves nothing from disk. They hold no state and no secret, so they are
// served without the token; every call that shows or changes anything needs it. Any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

struct THttpServerRequest;

struct TEmbeddedFile {
  std::string_view Name;
  std::string_view Bytes;
};
// Written by cmake/EmbedFiles.cmake.
extern const TEmbeddedFile kAdminFiles[];
extern const size_t kAdminFileCount;

// Answers GET and HEAD of the console's files ("/" is the page); 405 for another method; 0 for a
// path that names none of them.
uint32_t AnswerAdminAsset(THttpServerRequest& c);

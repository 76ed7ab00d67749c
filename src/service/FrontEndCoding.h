// What the service plugs into the HTTP front end for its bodies: the deflate content coding and
// the entity tag.
#pragma once

#include <string>
#include <string_view>

#include "http/HttpApiServer.h"

// Raw DEFLATE (no zlib header, no checksum) at the fastest level.
extern const THttpSocketCompress CompressDeflate;

// The strong entity tag of a body: its MD5 in quotes, the same on every instance serving the same
// bytes.
std::string EntityTag(std::string_view plain);

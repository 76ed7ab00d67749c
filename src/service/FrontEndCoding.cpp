#include "service/FrontEndCoding.h"

#include "formats/MD5.h"
#include "formats/ZStream.h"

namespace {

std::string RawDeflateFastest(std::string_view data) { return RawDeflate(data, 1); }

}  // namespace

const THttpSocketCompress CompressDeflate{"deflate", &RawDeflateFastest};

std::string EntityTag(std::string_view plain) { return "\"" + MD5Print(MD5String(plain)) + "\""; }

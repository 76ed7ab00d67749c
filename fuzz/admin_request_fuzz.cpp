// Untrusted request bytes through the browser console's API: parsed as the front end parses them,
// then answered by the API with a fixed token. Whatever the bytes, a command runs only for a POST
// that carries that token in its one Authorization line, and nothing but a bare 401 answers
// without it. Input layout as the request path targets take it (FuzzRequest.h).
#include <utility>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzRequest.h"
#include "app/AdminApi.h"
#include "app/AdminToken.h"
#include "app/ConsoleState.h"
#include "app/uServiceControl.h"

namespace {

// The token the seeds and the dictionary carry, so that the fuzzer reaches the calls behind it.
constexpr std::string_view kToken = "0123456789abcdef0123456789abcdef";

struct TConsole {
  TServiceControl Control{TServiceView{}};
  TConsoleState State;
  int Commands = 0;
  TAdminApi Api{Control, State, std::string(kToken), [this](TServiceCommand) { ++Commands; }, [] { return uint64_t{0}; }};

  TConsole() {
    State.Log.Append({"line 0", "line 1 \x01\xff"});
    State.Traffic.Sample(0, {});
    State.Traffic.Sample(1000, {1, 2, 3});
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  THttpRequestParser parser;
  const fuzz::TParsedRequest parsed = fuzz::ParseInput(data, size, parser);
  if (!parsed.Done) return 0;
  THttpServerRequest c;
  FillRequestContext(parser.get(), "127.0.0.1", c);
  // A fresh console per input: the throttle's memory of one input must not decide the next.
  TConsole console;
  const uint32_t status = console.Api.Answer(c);
  const bool authorized = SameToken(BearerToken(c.InHeaders), kToken);
  if (status == 401 && (!c.OutContent.empty() || c.OutBody)) __builtin_trap();
  if (!authorized && status != 0 && status != 401) __builtin_trap();
  if (console.Commands > 0 && !(authorized && c.Method == "POST")) __builtin_trap();
  return 0;
}

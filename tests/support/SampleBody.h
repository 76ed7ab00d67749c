// A fixed response body for benchmarks: words from a small vocabulary in a fixed pseudo-random
// order, compressing to about half, the way game payloads do.
#pragma once

#include <cstddef>
#include <string>

std::string SampleResponseBody(std::size_t size);

// A strict reader of the Prometheus text exposition format for tests: every line a HELP, a TYPE
// or a sample of a family whose TYPE came first, label values quoted, histogram buckets rising to
// a "+Inf" bucket equal to the count.
#pragma once

#include <map>
#include <string>

// Samples by their full name with labels as written ("name{a=\"b\"}"). Throws std::runtime_error
// naming the first line that breaks the format.
std::map<std::string, double> ParsePromText(const std::string& text);

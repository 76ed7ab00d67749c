#include "support/PromText.h"

#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>

namespace {

const std::regex kHelp(R"(# HELP ([a-zA-Z_:][a-zA-Z0-9_:]*) .*)");
const std::regex kType(R"(# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (counter|gauge|histogram|summary|untyped))");
const std::regex kSample(
    R"(([a-zA-Z_:][a-zA-Z0-9_:]*)(\{[a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\]|\\.)*"(?:,[a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\]|\\.)*")*\})? ([-+]?(?:[0-9]+(?:\.[0-9]*)?(?:[eE][-+]?[0-9]+)?|Inf|NaN)))");

// The family a sample belongs to: a histogram's samples carry a suffix.
std::string FamilyOf(const std::string& name, const std::map<std::string, std::string>& types) {
  for (const char* suffix : {"_bucket", "_sum", "_count"}) {
    const std::string s(suffix);
    if (name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0) {
      const std::string base = name.substr(0, name.size() - s.size());
      auto it = types.find(base);
      if (it != types.end() && it->second == "histogram") return base;
    }
  }
  return name;
}

}  // namespace

std::map<std::string, double> ParsePromText(const std::string& text) {
  if (!text.empty() && text.back() != '\n') throw std::runtime_error("the text does not end with a line feed");
  std::map<std::string, std::string> types;
  std::map<std::string, double> samples;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_match(line, m, kHelp)) continue;
    if (std::regex_match(line, m, kType)) {
      if (!types.emplace(m[1], m[2]).second) throw std::runtime_error("a second TYPE: " + line);
      continue;
    }
    if (!std::regex_match(line, m, kSample)) throw std::runtime_error("not a sample: " + line);
    if (!types.count(FamilyOf(m[1], types))) throw std::runtime_error("a sample before its TYPE: " + line);
    const std::string key = m[1].str() + m[2].str();
    const std::string value = m[3];
    const double v = value == "+Inf" || value == "Inf" ? 1e300 : std::stod(value);
    if (!samples.emplace(key, v).second) throw std::runtime_error("a sample twice: " + line);
  }
  for (const auto& [family, type] : types) {
    if (type != "histogram") continue;
    // The map sorts buckets by text, not by bound: order them by their le values.
    std::map<double, double> buckets;
    for (const auto& [key, v] : samples) {
      if (key.rfind(family + "_bucket{le=\"", 0) != 0) continue;
      const std::string le = key.substr(family.size() + 12, key.size() - family.size() - 14);
      buckets[le == "+Inf" ? 1e300 : std::stod(le)] = v;
    }
    if (buckets.empty() || buckets.rbegin()->first != 1e300) throw std::runtime_error(family + ": no +Inf bucket");
    double last = 0;
    for (const auto& [le, v] : buckets) {
      if (v < last) throw std::runtime_error(family + ": buckets not cumulative");
      last = v;
    }
    if (!samples.count(family + "_count") || samples.at(family + "_count") != last || !samples.count(family + "_sum"))
      throw std::runtime_error(family + ": count differs from the +Inf bucket or no sum");
  }
  return samples;
}

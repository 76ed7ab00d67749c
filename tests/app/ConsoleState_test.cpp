// What the browser console keeps for itself: the operator log's ring and the traffic series; and
// the JSON text its API writes.
#include "app/ConsoleState.h"
#include "app/JsonText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Numbered(size_t from, size_t count) {
  std::vector<std::string> lines;
  for (size_t i = from; i < from + count; ++i) lines.push_back("line " + std::to_string(i));
  return lines;
}

TEST(OperatorLogRing, ReadsFromAGivenLineAndKeepsTheNewest) {
  TOperatorLogRing log;
  EXPECT_EQ(log.Since(0).Lines.size(), 0u);
  log.Append(Numbered(0, 10));
  auto read = log.Since(7);
  EXPECT_EQ(read.First, 7u);
  EXPECT_EQ(read.Lines, Numbered(7, 3));
  EXPECT_EQ(read.Next, 10u);
  EXPECT_TRUE(log.Since(10).Lines.empty());
  EXPECT_EQ(log.Since(99).Next, 10u) << "a reader from an earlier run starts again at the end";

  log.Append(Numbered(10, TOperatorLogRing::kCapacity + 5));
  const uint64_t end = 15 + TOperatorLogRing::kCapacity;
  EXPECT_EQ(log.Next(), end);
  read = log.Since(0);
  EXPECT_EQ(read.First, 15u) << "older lines are gone; the reader sees where its lines start";
  EXPECT_EQ(read.Lines.size(), TOperatorLogRing::kMaxLinesPerRead);
  EXPECT_EQ(read.Lines.front(), "line 15");
  read = log.Since(end - 2);
  EXPECT_EQ(read.Lines, Numbered(end - 2, 2));
}

TEST(TrafficSeries, DifferencesOfTheTotalsOldestFirstInARingOfTenMinutes) {
  TTrafficSeries series;
  series.Sample(500, {10, 1, 1000});
  EXPECT_TRUE(series.Samples().empty()) << "the first call sets the baseline";
  series.Sample(1500, {15, 1, 3000});
  series.Sample(3600, {16, 3, 3000});  // a late tick: its span says so
  auto samples = series.Samples();
  ASSERT_EQ(samples.size(), 2u);
  EXPECT_EQ(samples[0].AtMs, 1500u);
  EXPECT_EQ(samples[0].SpanMs, 1000u);
  EXPECT_EQ(samples[0].Delta.Requests, 5u);
  EXPECT_EQ(samples[0].Delta.Bytes, 2000u);
  EXPECT_EQ(samples[1].SpanMs, 2100u);
  EXPECT_EQ(samples[1].Delta.Errors, 2u);

  for (uint64_t s = 0; s < TTrafficSeries::kSamples + 10; ++s) series.Sample(4000 + 1000 * s, {s, 0, 0});
  samples = series.Samples();
  ASSERT_EQ(samples.size(), TTrafficSeries::kSamples);
  for (size_t i = 1; i < samples.size(); ++i) ASSERT_EQ(samples[i].AtMs, samples[i - 1].AtMs + 1000) << i;
  EXPECT_EQ(samples.back().AtMs, 4000 + 1000 * (TTrafficSeries::kSamples + 9));
}

TEST(JsonText, EscapesWhatJsonNeedsAndMendsMalformedUtf8) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"", "\"\""},
      {"/srv/client/Data/Hum.wzl", "\"/srv/client/Data/Hum.wzl\""},
      {"密码错误", "\"密码错误\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"tab\there\r\n", "\"tab\\u0009here\\u000d\\u000a\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
      {"\x7f", "\"\\u007f\""},
      {"\xff\xfe", "\"\xef\xbf\xbd\xef\xbf\xbd\""},           // not UTF-8 at all
      {"\xe5\xaf", "\"\xef\xbf\xbd\""},                        // cut in the middle of a character
      {"\xed\xa0\x80", "\"?\""},                                   // an encoded surrogate
      {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},            // beyond the basic plane
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.in), c.out) << c.in;
}

}  // namespace

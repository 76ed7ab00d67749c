#include <gtest/gtest.h>

#include <ctime>
#include <regex>

#include "platform/Clock.h"

namespace {

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

TEST(Clock, DateTimeTexts) {
  const std::time_t a = LocalTime(2024, 7, 2, 13, 45, 12);
  EXPECT_EQ(DateTimeText(a), "2024/7/2 13:45:12");
  EXPECT_EQ(DateTimeStamp(a), "20240702134512");
  const std::time_t b = LocalTime(2025, 1, 5, 3, 4, 5);
  EXPECT_EQ(DateTimeText(b), "2025/1/5 3:04:05");
  EXPECT_EQ(DateTimeStamp(b), "20250105030405");
  const std::time_t c = LocalTime(1999, 12, 31, 0, 0, 0);
  EXPECT_EQ(DateTimeText(c), "1999/12/31 0:00:00");
  EXPECT_EQ(DateTimeStamp(c), "19991231000000");
}

TEST(Clock, NowHasTheLogForm) {
  EXPECT_TRUE(std::regex_match(NowDateTimeText(),
                               std::regex(R"(\d{4}/\d{1,2}/\d{1,2} \d{1,2}:\d{2}:\d{2})")));
}

TEST(Clock, TickNeverGoesBack) {
  uint64_t last = GetTickCount64();
  for (int i = 0; i < 1000; ++i) {
    const uint64_t now = GetTickCount64();
    ASSERT_GE(now, last);
    last = now;
  }
}

}  // namespace

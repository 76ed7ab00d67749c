#include "service/uHttpServer.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "support/TempDir.h"

namespace {

class WorkLogTest : public testing::Test {
 protected:
  TempDir dir{false};
};

}  // namespace

TEST(ErrorPage, TwoOrThreeLinesEachEndingInCrLf) {
  const std::string head = std::string("</table></p><p><i>Powered by ") + kVendorHost + " <strong>\r\n";
  const std::string tail = std::string("</strong></i> - <a href=") + kVendorUrl + ">" + kVendorUrl +
                           "/</a></p></body></html>\r\n";
  EXPECT_EQ(GetErrorMsg(-2), head + "Error Code: -2\r\n" + tail);
  EXPECT_EQ(GetErrorMsg(-99), head + "Error Code: -99\r\n" + tail);
  EXPECT_EQ(GetErrorMsg(0), head + tail);
  EXPECT_EQ(std::string(kVendorUrl), std::string("https://") + kVendorHost);
}

TEST_F(WorkLogTest, LinesInOrderWithTimeStampInCodePage936) {
  TWorkLog log(dir.PathOf("20240702134512.log"));
  log.LogsOut("错误格式：/other/TOKEN/3.html");
  log.LogsOut("异常访问");
  const std::string bytes = ReadFileBytes(log.FileName());
  const std::string first = AnsiFromUtf8("错误格式：/other/TOKEN/3.html");
  const std::string second = AnsiFromUtf8("异常访问");
  std::regex line("(\\d{4}/\\d{1,2}/\\d{1,2} \\d{1,2}:\\d{2}:\\d{2}) (.*)\r\n");
  std::smatch m;
  std::string rest = bytes;
  ASSERT_TRUE(std::regex_search(rest, m, line, std::regex_constants::match_continuous)) << bytes;
  EXPECT_EQ(m[2].str(), first);
  rest = m.suffix();
  ASSERT_TRUE(std::regex_search(rest, m, line, std::regex_constants::match_continuous)) << bytes;
  EXPECT_EQ(m[2].str(), second);
  EXPECT_EQ(m.suffix().str(), "");
}

TEST_F(WorkLogTest, ConcurrentWritersLoseAndInterleaveNothing) {
  TWorkLog log(dir.PathOf("w.log"));
  const int threads = 8, lines = 200;
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t)
    writers.emplace_back([&, t] {
      for (int i = 0; i < lines; ++i) log.LogsOut("writer " + std::to_string(t) + " line " + std::to_string(i));
    });
  for (auto& w : writers) w.join();
  auto all = SplitTextLines(ReadFileBytes(log.FileName()));
  ASSERT_EQ(all.size(), size_t(threads * lines));
  std::vector<int> next(threads, 0);
  std::regex line("\\S+ \\S+ writer (\\d+) line (\\d+)");
  for (const auto& l : all) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(l, m, line)) << l;
    int t = std::stoi(m[1]);
    EXPECT_EQ(std::stoi(m[2]), next[t]++) << "each writer's lines stay in order";
  }
}

TEST_F(WorkLogTest, AFileThatCannotBeWrittenRaises) {
  TWorkLog log(dir.PathOf("missing/x.log"));
  EXPECT_THROW(log.LogsOut("line"), EInOutError);
}

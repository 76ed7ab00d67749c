#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Inet.h"
#include "settings/IPAddrFilter.h"
#include "support/SharedStateTest.h"

namespace {

using IPFilterTest = SharedStateTest;

constexpr uint32_t Host(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { return a << 24 | b << 16 | c << 8 | d; }

std::vector<std::string> Texts(const std::vector<TBlockIP>& list) {
  std::vector<std::string> out;
  for (const TBlockIP& e : list) out.push_back(e.sIP);
  return out;
}

TEST(ReverseIP, TurnsInetAddrValuesIntoHostOrderAndBack) {
  EXPECT_EQ(ReverseIP(0x01020304u), 0x04030201u);
  EXPECT_EQ(ReverseIP(ReverseIP(0xC0A80A01u)), 0xC0A80A01u);
  EXPECT_EQ(ReverseIP(InetAddr("192.168.10.1")), Host(192, 168, 10, 1));
  EXPECT_EQ(InetNtoa(ReverseIP(Host(10, 0, 0, 9))), "10.0.0.9");
}

TEST(CheckIPArea, BoundsAreCutOnTheFirstDashAndPutInOrder) {
  struct Case {
    std::string text;
    TIPAreaError error;
    uint32_t low, high;
  } cases[] = {
      {"10.0.0.9-10.0.0.1", TIPAreaError::None, Host(10, 0, 0, 1), Host(10, 0, 0, 9)},
      {"10.0.0.1-10.0.0.9", TIPAreaError::None, Host(10, 0, 0, 1), Host(10, 0, 0, 9)},
      {"10.0.0.5-10.0.0.5", TIPAreaError::None, Host(10, 0, 0, 5), Host(10, 0, 0, 5)},
      {"10.1-0x0a000002", TIPAreaError::None, Host(10, 0, 0, 1), Host(10, 0, 0, 2)},  // inet_addr forms
      {"1.2.3.4-1.2.3.5 办公室", TIPAreaError::None, Host(1, 2, 3, 4), Host(1, 2, 3, 5)},
      {"10.0.0.1", TIPAreaError::High, 0, 0},            // no "-": empty high bound
      {"-10.0.0.1", TIPAreaError::High, 0, 0},           // the leading "-" is skipped
      {"10.0.0.1--10.0.0.2", TIPAreaError::High, 0, 0},  // the remainder keeps the second "-"
      {"10.0.0.x-10.0.0.1", TIPAreaError::Low, 0, 0},
      {"10.0.0.1-10.0.0.256", TIPAreaError::High, 0, 0},
      {"255.255.255.255-10.0.0.1", TIPAreaError::Low, 0, 0},
      {"10.0.0.1-255.255.255.255", TIPAreaError::High, 0, 0},
      {"bad-worse", TIPAreaError::Low, 0, 0},  // the low bound is looked at first
      {"", TIPAreaError::Low, 0, 0},
  };
  for (const Case& c : cases) {
    TIPArea area{};
    EXPECT_EQ(CheckIPArea(c.text, area), c.error) << c.text;
    EXPECT_EQ(ParseIPArea(c.text, area), c.error == TIPAreaError::None) << c.text;
    if (c.error == TIPAreaError::None) {
      EXPECT_EQ(area.Low, c.low) << c.text;
      EXPECT_EQ(area.High, c.high) << c.text;
    }
  }
}

TEST_F(IPFilterTest, LoadingWithoutFilesCreatesThemEmpty) {
  g_BlockIPList.push_back({"1.1.1.1", 1});
  LoadBlockIPList();
  LoadBlockIPAreaList();
  EXPECT_TRUE(g_BlockIPList.empty());
  EXPECT_TRUE(g_BlockIPAreaList.empty());
  EXPECT_TRUE(FileExists("BlockIPList.txt"));
  EXPECT_TRUE(FileExists("BlockIPAreaList.txt"));
  EXPECT_EQ(dir_.ReadFile("BlockIPList.txt"), "");
  EXPECT_EQ(dir_.ReadFile("BlockIPAreaList.txt"), "");
}

TEST_F(IPFilterTest, AddressFileKeepsValidLinesWithTheirTextAndValue) {
  dir_.WriteFile("BlockIPList.txt", AnsiFromUtf8("10.0.0.1\r\n"
                                                 "\r\n"
                                                 "not an address\r\n"
                                                 "255.255.255.255\n"
                                                 "0x0a000002\r"
                                                 "10.0.0.1\r\n"  // duplicates stay
                                                 "10.0.0.3 办公室\r\n"));
  g_TempBlockIPList.push_back({"9.9.9.9", 0});
  LoadBlockIPList();
  EXPECT_EQ(Texts(g_BlockIPList),
            (std::vector<std::string>{"10.0.0.1", "0x0a000002", "10.0.0.1", "10.0.0.3 办公室"}));
  ASSERT_EQ(g_BlockIPList.size(), 4u);
  EXPECT_EQ(static_cast<uint32_t>(g_BlockIPList[0].nIP), InetAddr("10.0.0.1"));
  EXPECT_EQ(static_cast<uint32_t>(g_BlockIPList[1].nIP), InetAddr("10.0.0.2"));
  EXPECT_EQ(static_cast<uint32_t>(g_BlockIPList[3].nIP), InetAddr("10.0.0.3"));
  EXPECT_EQ(g_TempBlockIPList.size(), 1u);  // the temporary list has no file

  SaveBlockIPList();
  EXPECT_EQ(dir_.ReadFile("BlockIPList.txt"),
            AnsiFromUtf8("10.0.0.1\r\n0x0a000002\r\n10.0.0.1\r\n10.0.0.3 办公室\r\n"));
}

TEST_F(IPFilterTest, RangeFileKeepsLineTextAndOrderedRecords) {
  dir_.WriteFile("BlockIPAreaList.txt",
                 "\xEF\xBB\xBF"
                 "10.0.0.9-10.0.0.1\r\n"
                 "10.0.0.1\r\n"
                 "-10.0.0.1\r\n"
                 "10.0.0.1-nope\r\n"
                 "192.168.1.1-192.168.1.255 机房\n"
                 "10.0.0.9-10.0.0.1\r\n");
  LoadBlockIPAreaList();
  ASSERT_EQ(g_BlockIPAreaList.size(), 3u);
  EXPECT_EQ(g_BlockIPAreaList[0].sText, "10.0.0.9-10.0.0.1");
  EXPECT_EQ(g_BlockIPAreaList[0].Area->Low, Host(10, 0, 0, 1));
  EXPECT_EQ(g_BlockIPAreaList[0].Area->High, Host(10, 0, 0, 9));
  EXPECT_EQ(g_BlockIPAreaList[1].sText, "192.168.1.1-192.168.1.255 机房");
  EXPECT_EQ(g_BlockIPAreaList[1].Area->High, Host(192, 168, 1, 255));
  EXPECT_NE(g_BlockIPAreaList[0].Area, g_BlockIPAreaList[2].Area);  // one record per entry

  // Saving writes back exactly the accepted lines, in code page 936.
  SaveBlockIPAreaList();
  EXPECT_EQ(dir_.ReadFile("BlockIPAreaList.txt"),
            AnsiFromUtf8("10.0.0.9-10.0.0.1\r\n192.168.1.1-192.168.1.255 机房\r\n10.0.0.9-10.0.0.1\r\n"));
  LoadBlockIPAreaList();  // loading again replaces the entries
  EXPECT_EQ(g_BlockIPAreaList.size(), 3u);

  g_BlockIPAreaList.clear();
  SaveBlockIPAreaList();
  EXPECT_EQ(dir_.ReadFile("BlockIPAreaList.txt"), "");
}

TEST_F(IPFilterTest, SavingSkipsEmptyTextsAndKeepsUnreadableOnes) {
  g_BlockIPList = {{"", -1}, {"typed", -1}, {"10.0.0.1", static_cast<int32_t>(InetAddr("10.0.0.1"))}};
  SaveBlockIPList();
  EXPECT_EQ(dir_.ReadFile("BlockIPList.txt"), "typed\r\n10.0.0.1\r\n");
  LoadBlockIPList();  // the unreadable entry is dropped on the next load
  EXPECT_EQ(Texts(g_BlockIPList), std::vector<std::string>{"10.0.0.1"});
}

TEST_F(IPFilterTest, FileErrorsRaiseAndLeaveTheListsAlone) {
  std::filesystem::create_directory("BlockIPList.txt");
  std::filesystem::create_directory("BlockIPAreaList.txt");
  g_BlockIPList = {{"10.0.0.1", 1}};
  g_BlockIPAreaList.push_back({"1.1.1.1-1.1.1.2", std::make_shared<TIPArea>(TIPArea{1, 2})});
  EXPECT_THROW(SaveBlockIPList(), EInOutError);
  EXPECT_THROW(SaveBlockIPAreaList(), EInOutError);
  EXPECT_THROW(LoadBlockIPList(), EInOutError);
  EXPECT_THROW(LoadBlockIPAreaList(), EInOutError);
  EXPECT_EQ(g_BlockIPList.size(), 1u);
  EXPECT_EQ(g_BlockIPAreaList.size(), 1u);
}

}  // namespace

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "settings/TarnShare.h"
#include "support/SharedStateTest.h"
#include "service/ServiceState.h"
#include "formats/Jpk.h"

namespace {

using ConfigTest = SharedStateTest;

TEST_F(ConfigTest, InitialValuesAndNoFile) {
  LoadConfig();
  EXPECT_FALSE(FileExists("Config.ini"));  // reading never creates the file
  EXPECT_EQ(g_sTitle, "Varrow微端");
  EXPECT_EQ(g_nServerPort, 8800);
  EXPECT_EQ(g_sSearchDir, "");
  EXPECT_EQ(g_sWClientDir, "Resources");
  EXPECT_EQ(g_sWClientPass, "418K7_p2593");
  EXPECT_EQ(g_nMaxBandwidth, 100);
  EXPECT_EQ(g_ResBaseDir, "Resources/");
  EXPECT_EQ(g_ResHumanDir, "Resources/Graphics/Human/");
  EXPECT_EQ(g_ResWeaponDIr, "Resources/Graphics/Weapon/");
  EXPECT_EQ(g_ResDataDir, "Resources/Data/");
  EXPECT_EQ(g_ResMapDir, "Resources/Map/");
  EXPECT_EQ(g_ResWavDir, "Resources/Wav/");
  EXPECT_EQ(g_sDefaultPassWord.size(), 9u);
  EXPECT_EQ(g_sConfigFile, "./Config.ini");
  EXPECT_EQ(g_sFileJpk, "./JpkList.txt");
  EXPECT_FALSE(g_boStart);
  EXPECT_EQ(g_nDataSend, 0u);
}

TEST_F(ConfigTest, UnreadableFileReadsLikeAMissingOne) {
  dir_.WriteUnreadable("Config.ini");
  g_sTitle = "kept";
  EXPECT_NO_THROW(LoadConfig());
  EXPECT_EQ(g_sTitle, "kept");
  EXPECT_EQ(g_nServerPort, 8800);
  EXPECT_EQ(g_sWClientPass, "418K7_p2593");
  EXPECT_TRUE(g_ErrorList.Drain().empty());  // nothing reported
  EXPECT_EQ(ReadConfigFile("Config.ini").Port, 8800);
}

TEST_F(ConfigTest, PortValueForms) {
  struct Case {
    std::string text;
    uint16_t port;
  } cases[] = {
      {"0x2260", 8800}, {"0X2260", 8800}, {"8801", 8801},  {"70000", 4464}, {"-1", 65535},
      {"abc", 1234},    {"", 1234},       {"0x", 1234},    {"0xZZ", 1234},  {"0x-5", 1234},
      {"-0x10", 1234},  {"+0x10", 1234},  {"12a", 1234},   {"0x10000", 0},  {"+80", 80},
      {"99999999999999999999", 1234},
  };
  for (const Case& c : cases) {
    uint16_t port = 1234;
    ParsePortValue(c.text, port);
    EXPECT_EQ(port, c.port) << c.text;
  }
}

TEST_F(ConfigTest, LoadsKeysAndKeepsCurrentValuesForMissingOnes) {
  dir_.WriteFile("Config.ini",
                 "[setup]\r\n"
                 "  port = 0x1F90 \r\n"
                 "SEARCHDIR=/srv/game\r\n"
                 "WClientPass=\xC3\xDC\xC2\xEB" "abc\r\n");
  g_sTitle = "kept";
  LoadConfig();
  EXPECT_EQ(g_sTitle, "kept");
  EXPECT_EQ(g_nServerPort, 8080);
  EXPECT_EQ(g_sSearchDir, "/srv/game");
  EXPECT_EQ(g_sWClientDir, "Resources");
  EXPECT_EQ(g_sWClientPass, "\xC3\xDC\xC2\xEB" "abc");  // code page 936 bytes in memory

  dir_.WriteFile("Config.ini", "[Setup]\r\nPort=abc\r\n");
  LoadConfig();
  EXPECT_EQ(g_nServerPort, 8080);
}

TEST_F(ConfigTest, ChineseTitleAndPasswordSurviveSaveThenLoad) {
  g_sTitle = "微端服务器";
  g_nServerPort = 9001;
  g_sSearchDir = "/srv/客户端";
  g_sWClientDir = "资源";
  g_sWClientPass = AnsiFromUtf8("密码pw");
  g_nMaxBandwidth = 500;
  SaveConfig();
  EXPECT_EQ(dir_.ReadFile("Config.ini"),
            AnsiFromUtf8("[Setup]\r\nTitle=微端服务器\r\nPort=9001\r\nSearchDir=/srv/客户端\r\n"
                         "WClientDir=资源\r\nWClientPass=密码pw\r\n"));
  ResetSharedState();
  LoadConfig();
  EXPECT_EQ(g_sTitle, "微端服务器");
  EXPECT_EQ(g_nServerPort, 9001);
  EXPECT_EQ(g_sSearchDir, "/srv/客户端");
  EXPECT_EQ(g_sWClientDir, "资源");
  EXPECT_EQ(g_sWClientPass, AnsiFromUtf8("密码pw"));
  EXPECT_EQ(g_nMaxBandwidth, 100);  // the bandwidth cap lives in memory only
}

TEST_F(ConfigTest, SaveKeepsTheFilesOtherLines) {
  dir_.WriteFile("Config.ini", "; note\r\n[Setup]\r\nport=1\r\nExtra=x\r\n[Other]\r\nk=v\r\n");
  SaveConfig();
  EXPECT_EQ(dir_.ReadFile("Config.ini"),
            AnsiFromUtf8("; note\r\n[Setup]\r\nPort=8800\r\nExtra=x\r\nTitle=Varrow微端\r\n"
                         "SearchDir=\r\nWClientDir=Resources\r\nWClientPass=418K7_p2593\r\n"
                         "[Other]\r\nk=v\r\n"));
}

TEST_F(ConfigTest, FailedSaveRaisesAndLeavesTheOldFileWhole) {
  // A directory in the file's place: the new file cannot be renamed over it, even as root.
  std::filesystem::create_directory("Config.ini");
  dir_.WriteFile("Config.ini/keep", "old");
  g_sTitle = "new";
  try {
    SaveConfig();
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "Unable to write to ./Config.ini");
  }
  EXPECT_EQ(dir_.ReadFile("Config.ini/keep"), "old");
  EXPECT_EQ(g_sTitle, "new");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 1);  // no stray file
}

TEST_F(ConfigTest, SavesThroughLinksAndRefusesReadOnlyFiles) {
  std::filesystem::create_directory("shared");
  dir_.WriteFile("shared/Config.ini", "[Other]\r\nk=v\r\n");
  std::filesystem::create_symlink("shared/Config.ini", "Config.ini");
  g_sTitle = "linked";
  SaveConfig();
  EXPECT_TRUE(std::filesystem::is_symlink("Config.ini"));
  const std::string saved = dir_.ReadFile("shared/Config.ini");
  EXPECT_EQ(saved.rfind("[Other]\r\nk=v\r\n", 0), 0u) << saved;
  EXPECT_NE(saved.find("\r\nTitle=linked\r\n"), std::string::npos) << saved;

  dir_.WriteFile("JpkList.txt", "old\r\n");
  std::filesystem::permissions("JpkList.txt", std::filesystem::perms::owner_read);
  g_JpkList.SetValue("a.jpk", "pw");
  try {
    SaveJpkList();
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "Unable to write to ./JpkList.txt");
  }
  EXPECT_EQ(dir_.ReadFile("JpkList.txt"), "old\r\n");
}

}  // namespace

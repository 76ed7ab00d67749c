// Reading a deployment from its folder, as the client tool does: the server's own readers, and
// nothing of the process's own state (current directory, settings, lists) touched.
#include <filesystem>

#include <gtest/gtest.h>

#include "client/WClientProbe.h"
#include "settings/TarnShare.h"
#include "support/SharedStateTest.h"

namespace {

using DeploymentTest = SharedStateTest;

TEST_F(DeploymentTest, ReadsTheFolderAndLeavesTheProcessStateAlone) {
  const TempDir folder(false);
  folder.WriteFile("Config.ini", "[Setup]\r\nPort=0x2260\r\nSearchDir=/srv/client//\r\nWClientPass=abc\r\n");
  folder.WriteFile("JpkList.txt", "/srv/client/Data/A.jpk|one\r\n;comment\r\n/srv/client/Data/B.jpk|two\r\n"
                                  "/srv/client/data/a.jpk|three\r\n");
  folder.WriteFile("WzlList.txt", "/srv/client/Data/Hum.wzl\r\n");
  folder.WriteFile("MapList.txt", "/srv/client/Map/0.map\r\n");
  // No WavList.txt: no wavs.
  g_sWClientPass = "mine";
  g_JpkList.SetValue("/mine.jpk", "pw");
  const auto cwd = std::filesystem::current_path();

  const TDeployment d = ReadDeployment(folder.Path());
  EXPECT_TRUE(d.HasSettings);
  EXPECT_EQ(d.Port, 0x2260);
  EXPECT_EQ(d.WClientPass, "abc");
  std::vector<std::pair<std::string, int>> got;
  for (const TWClientResource& r : d.Resources) got.emplace_back(r.Key, r.nType);
  EXPECT_EQ(got, (std::vector<std::pair<std::string, int>>{{"\\data\\a.jpk", kTypeImage},
                                                            {"\\data\\b.jpk", kTypeImage},
                                                            {"\\data\\hum.wzl", kTypeImage},
                                                            {"\\map\\0.map", kTypeMap}}))
      << "a library listed twice keeps its first place";

  EXPECT_EQ(std::filesystem::current_path(), cwd);
  EXPECT_EQ(g_sWClientPass, "mine");
  ASSERT_EQ(g_JpkList.Count(), 1u);
  EXPECT_EQ(g_JpkList[0].Name, "/mine.jpk");
}

TEST_F(DeploymentTest, AFolderWithoutFilesHasTheInitialSettingsAndNoResources) {
  const TempDir folder(false);
  const TDeployment d = ReadDeployment(folder.Path());
  EXPECT_FALSE(d.HasSettings) << "the tool's check fails on it";
  EXPECT_EQ(d.Port, 8800);
  EXPECT_EQ(d.WClientPass, "418K7_p2593");
  EXPECT_TRUE(d.Resources.empty());
}

}  // namespace

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "support/TempDir.h"

namespace {

class IniFileTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(IniFileTest, NamesIgnoreCaseAndValuesAreTrimmed) {
  dir_.WriteFile("a.ini",
                 "; comment=1\r\n"
                 "Loose=before any section\r\n"
                 "[other]\r\nport=1\r\n"
                 "  [ SeTuP ]  \r\n"
                 "  PORT  =   8801  \r\n"
                 "Title=\t\xCE\xA2\xB6\xCB x \r\n"
                 "Empty=\r\n"
                 "port=9999\r\n");
  const TIniFile ini("a.ini");
  EXPECT_EQ(ini.ReadString("setup", "Port", "d"), "8801");  // the first of two equal keys
  EXPECT_EQ(ini.ReadString("SETUP", "title", "d"), "微端 x");
  EXPECT_EQ(ini.ReadString("Setup", "Empty", "d"), "");
  EXPECT_TRUE(ini.ValueExists("Setup", "empty"));
  EXPECT_EQ(ini.ReadString("Setup", "Missing", "d"), "d");
  EXPECT_FALSE(ini.ValueExists("Setup", "Missing"));
  EXPECT_EQ(ini.ReadString("Nowhere", "Port", "d"), "d");
  EXPECT_EQ(ini.ReadString("Other", "Port", "d"), "1");
  EXPECT_EQ(ini.ReadString("Setup", "; comment", "d"), "d");
  EXPECT_EQ(ini.ReadString("Setup", "Loose", "d"), "d");
}

TEST_F(IniFileTest, WritingReplacesInPlaceAndKeepsEveryOtherLine) {
  dir_.WriteFile("a.ini",
                 "; keep me\r\n"
                 "[Setup]\r\n"
                 "Title=old\r\n"
                 "garbage line\r\n"
                 "\r\n"
                 "[Other]\r\n"
                 "k=v\r\n");
  TIniFile ini("a.ini");
  ini.WriteString("SETUP", "title", "new");
  ini.WriteString("Setup", "Port", "8800");
  ini.UpdateFile();
  EXPECT_EQ(dir_.ReadFile("a.ini"),
            "; keep me\r\n"
            "[Setup]\r\n"
            "title=new\r\n"
            "garbage line\r\n"
            "Port=8800\r\n"
            "\r\n"
            "[Other]\r\n"
            "k=v\r\n");
}

TEST_F(IniFileTest, MissingFileAndSectionAreCreatedOnWriteOnly) {
  {
    const TIniFile ini("new.ini");
    EXPECT_EQ(ini.ReadString("Setup", "Port", "d"), "d");
  }
  EXPECT_FALSE(FileExists("new.ini"));
  TIniFile ini("new.ini");
  ini.WriteString("Setup", "Title", "微端");
  ini.UpdateFile();
  EXPECT_EQ(dir_.ReadFile("new.ini"), "[Setup]\r\nTitle=\xCE\xA2\xB6\xCB\r\n");

  dir_.WriteFile("other.ini", "[Other]\r\nk=v\r\n");
  TIniFile other("other.ini");
  other.WriteString("Setup", "Port", "1");
  other.UpdateFile();
  EXPECT_EQ(dir_.ReadFile("other.ini"), "[Other]\r\nk=v\r\n\r\n[Setup]\r\nPort=1\r\n");
}

TEST_F(IniFileTest, FailedUpdateKeepsTheOldFileWhole) {
  dir_.WriteFile("a.ini", "[Setup]\r\nTitle=old\r\n");
  TIniFile ini(dir_.PathOf("a.ini"));
  ini.WriteString("Setup", "Title", "new");
  // Turn the file's place into a directory: the replacement cannot be renamed over it.
  std::filesystem::rename(dir_.PathOf("a.ini"), dir_.PathOf("saved.ini"));
  std::filesystem::create_directory(dir_.PathOf("a.ini"));
  std::filesystem::copy_file(dir_.PathOf("saved.ini"), dir_.PathOf("a.ini/inner"));
  EXPECT_THROW(ini.UpdateFile(), EInOutError);
  EXPECT_EQ(dir_.ReadFile("a.ini/inner"), "[Setup]\r\nTitle=old\r\n");
}

}  // namespace

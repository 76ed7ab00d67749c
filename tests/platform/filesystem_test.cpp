#ifdef __linux__
#include <dlfcn.h>
#endif
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/ReadFile.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

#ifdef __linux__
// The next close() on this thread closes the file and then reports EIO, as a network file system
// does when it learns only then that a write failed. Every other close() is the C library's own
// (or a sanitizer's, which come first in the lookup).
namespace {
thread_local bool failNextClose = false;
}

extern "C" int close(int fd) {
  static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "close"));
  const int rc = real(fd);
  if (failNextClose && rc == 0) {
    failNextClose = false;
    errno = EIO;
    return -1;
  }
  return rc;
}
#endif

namespace {

class FileSystemTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(FileSystemTest, AtomicWriteReplacesTheWholeFileAndKeepsItsMode) {
  dir_.WriteFile("f.txt", "a much longer old content");
  fs::permissions("f.txt", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  WriteFileAtomic("f.txt", "new");
  EXPECT_EQ(dir_.ReadFile("f.txt"), "new");
  EXPECT_EQ(fs::status("f.txt").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  WriteFileAtomic("created.txt", std::string("\0x", 2));
  EXPECT_EQ(dir_.ReadFile("created.txt"), std::string("\0x", 2));
  // No temporary file is left behind.
  std::vector<std::string> names = ListFiles(".");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"created.txt", "f.txt"}));
}

TEST_F(FileSystemTest, FailedAtomicWriteLeavesTheOldFileWhole) {
  dir_.WriteFile("old.txt", "old content");
  fs::create_directory("adir");
  // Failures that happen as root too: no such directory, a file where the directory should be,
  // a directory where the file should be.
  for (const std::string path : {"missing/old.txt", "old.txt/x", "adir"}) {
    try {
      WriteFileAtomic(path, "new content");
      ADD_FAILURE() << path;
    } catch (const EInOutError& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
  }
  EXPECT_EQ(dir_.ReadFile("old.txt"), "old content");
  EXPECT_TRUE(DirectoryExists("adir"));
  EXPECT_TRUE(fs::is_empty("adir"));
  EXPECT_EQ(ListFiles("."), std::vector<std::string>{"old.txt"});
}

TEST_F(FileSystemTest, AtomicWriteThroughALinkReplacesItsTargetAndKeepsTheLink) {
  fs::create_directories("real/deeper");
  dir_.WriteFile("real/deeper/target.txt", "old");
  fs::create_symlink("deeper/target.txt", "real/hop");       // relative to the link's folder
  fs::create_symlink("real/hop", "link.txt");                // a chain of two
  fs::create_symlink(dir_.PathOf("real/deeper/new.txt"), "dangling.txt");
  WriteFileAtomic("link.txt", "new");
  WriteFileAtomic("dangling.txt", "made");
  EXPECT_TRUE(fs::is_symlink("link.txt"));
  EXPECT_TRUE(fs::is_symlink("real/hop"));
  EXPECT_TRUE(fs::is_symlink("dangling.txt"));
  EXPECT_EQ(dir_.ReadFile("real/deeper/target.txt"), "new");
  EXPECT_EQ(dir_.ReadFile("real/deeper/new.txt"), "made");
  // The temporary file lives beside the target and is gone.
  std::vector<std::string> names = ListFiles("real/deeper");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"new.txt", "target.txt"}));

  fs::create_symlink("loop.txt", "loop.txt");
  EXPECT_THROW(WriteFileAtomic("loop.txt", "x"), EInOutError);
}

TEST_F(FileSystemTest, ReadOnlyFileIsRefusedAndLeftUntouched) {
  // No write bit at all: refused even where the process could write anyway (root).
  dir_.WriteFile("ro.txt", "old");
  fs::permissions("ro.txt", fs::perms::owner_read | fs::perms::group_read);
  fs::create_symlink("ro.txt", "ro-link.txt");
  for (const std::string path : {"ro.txt", "ro-link.txt"}) {
    try {
      WriteFileAtomic(path, "new");
      ADD_FAILURE() << path;
    } catch (const EInOutError& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
  }
  EXPECT_EQ(dir_.ReadFile("ro.txt"), "old");
  EXPECT_EQ(fs::status("ro.txt").permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::group_read);
  EXPECT_TRUE(fs::is_symlink("ro-link.txt"));
  std::vector<std::string> names = ListFiles(".");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"ro-link.txt", "ro.txt"}));
}

TEST_F(FileSystemTest, ExistenceTestsTellFilesFromDirectories) {
  dir_.WriteFile("f", "x");
  fs::create_directory("d");
  EXPECT_TRUE(FileExists("f"));
  EXPECT_FALSE(FileExists("d"));
  EXPECT_FALSE(FileExists(""));
  EXPECT_TRUE(DirectoryExists("d"));
  EXPECT_FALSE(DirectoryExists("f"));
  EXPECT_FALSE(DirectoryExists(""));
  EXPECT_EQ(FileSizeOf("f"), 1);
  EXPECT_EQ(FileSizeOf("absent"), -1);
  EXPECT_TRUE(ForceDirectories("a/b/c"));
  EXPECT_TRUE(DirectoryExists("a/b/c"));
  EXPECT_FALSE(ForceDirectories("f/sub"));
  EXPECT_FALSE(ForceDirectories(""));
}

TEST_F(FileSystemTest, ReadAppendAndCreate) {
  EXPECT_THROW(ReadFileBytes("absent"), EInOutError);
  fs::create_directory("d");
  EXPECT_THROW(ReadFileBytes("d"), EInOutError);
  AppendFileBytes("log.txt", "a\r\n");
  AppendFileBytes("log.txt", std::string("b\0", 2));
  EXPECT_EQ(ReadFileBytes("log.txt"), std::string("a\r\nb\0", 5));
  // One buffer serves several files: each read replaces what it held.
  std::string buffer(100000, 'x');
  ReadFileInto("log.txt", buffer);
  EXPECT_EQ(buffer, std::string("a\r\nb\0", 5));
  const std::string big(200000, 'b');
  dir_.WriteFile("big.bin", big);
  ReadFileInto("big.bin", buffer);
  EXPECT_EQ(buffer, big);
  dir_.WriteFile("empty.bin", "");
  ReadFileInto("empty.bin", buffer);
  EXPECT_EQ(buffer, "");
  EXPECT_THROW(ReadFileInto("absent", buffer), EInOutError);
  // A file that reports no size (a pipe, or /proc) is read to its end all the same.
  ASSERT_EQ(::mkfifo("pipe", 0600), 0);
  std::thread writer([&] { AppendFileBytes("pipe", big); });
  EXPECT_EQ(ReadFileBytes("pipe"), big);
  writer.join();
  EXPECT_THROW(AppendFileBytes("missing/log.txt", "x"), EInOutError);
#ifdef __linux__
  failNextClose = true;
  EXPECT_THROW(AppendFileBytes("closed.txt", "c"), EInOutError) << "a failed close is a failed append";
  EXPECT_FALSE(failNextClose);
#endif
  CreateEmptyFileIfMissing("empty.txt");
  EXPECT_EQ(FileSizeOf("empty.txt"), 0);
  CreateEmptyFileIfMissing("log.txt");
  EXPECT_EQ(FileSizeOf("log.txt"), 5);
  EXPECT_THROW(CreateEmptyFileIfMissing("missing/x.txt"), EInOutError);
}

TEST_F(FileSystemTest, ListingAndCaseInsensitiveLookup) {
  fs::create_directory("Data");
  dir_.WriteFile("Data/Hum.WZX", "x");
  dir_.WriteFile("Data/hum.wzl", "x");
  fs::create_directory("Data/Sub.wzx");
  EXPECT_EQ(FindFileNoCase(OsFiles(), "Data", "hum.wzl"), "Data/hum.wzl");
  EXPECT_EQ(FindFileNoCase(OsFiles(), "Data/", "hum.wzx"), "Data/Hum.WZX");
  EXPECT_EQ(FindFileNoCase(OsFiles(), "Data", "sub.wzx"), "");  // directories are not files
  EXPECT_EQ(FindFileNoCase(OsFiles(), "Data", "absent"), "");
  EXPECT_EQ(FindFileNoCase(OsFiles(), "NoDir", "hum.wzl"), "");
  std::vector<std::string> names = ListFiles("Data");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Hum.WZX", "hum.wzl"}));
  EXPECT_TRUE(ListFiles("NoDir").empty());
}

TEST(FilePaths, ExtractFilePathKeepsTheTrailingSeparator) {
  EXPECT_EQ(ExtractFilePath("a/b/c.txt"), "a/b/");
  EXPECT_EQ(ExtractFilePath("D:\\data\\hum.wzl"), "D:\\data\\");
  EXPECT_EQ(ExtractFilePath("c.txt"), "");
  EXPECT_FALSE(ExecutableDir().empty());
}

TEST(FilePaths, ExtractFileExtLooksAtTheNamePartOnly) {
  EXPECT_EQ(ExtractFileExt("a/b.c.wzl"), ".wzl");
  EXPECT_EQ(ExtractFileExt("D:\\data.d\\hum"), "");
  EXPECT_EQ(ExtractFileExt("dir.x/name"), "");
  EXPECT_EQ(ExtractFileExt("name."), ".");
}

TEST_F(FileSystemTest, FileSourcesReadAtPositionsAndShortAtTheEnd) {
  dir_.WriteFile("lib.bin", "0123456789");
  TMemoryFiles memory;
  memory.Put("lib.bin", "0123456789");
  for (const TFileSource* files : {&OsFiles(), static_cast<const TFileSource*>(&memory)}) {
    const auto f = files->Open("lib.bin");
    EXPECT_EQ(f->Size(), 10u);
    char buf[8] = {};
    EXPECT_EQ(f->ReadAt(7, buf, 8), 3u);
    EXPECT_EQ(std::string(buf, 3), "789");
    EXPECT_EQ(f->ReadAt(10, buf, 8), 0u);
    EXPECT_EQ(f->ReadAt(~0ull, buf, 8), 0u);
    std::string whole = "old";
    ReadWholeFile(*files, "lib.bin", whole);
    EXPECT_EQ(whole, "0123456789");
    EXPECT_TRUE(files->Exists("lib.bin"));
    EXPECT_FALSE(files->Exists("absent.bin"));
    EXPECT_THROW(files->Open("absent.bin"), EInOutError);
    EXPECT_THROW(ReadWholeFile(*files, "absent.bin", whole), EInOutError);
  }
}

TEST(MemoryFiles, FoldersAreNamePrefixesAndOpenFilesKeepTheirBytes) {
  TMemoryFiles files;
  files.Put("Data/Hum.WZX", "x");
  files.Put("Data/hum.wzl", "x");
  files.Put("Data/Sub/a.wzx", "x");
  files.Put("top.txt", "x");
  std::vector<std::string> names = files.List("Data");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Hum.WZX", "hum.wzl"}));
  EXPECT_EQ(files.List(""), std::vector<std::string>{"top.txt"});
  EXPECT_EQ(FindFileNoCase(files, "Data/", "HUM.wzx"), "Data/Hum.WZX");
  EXPECT_EQ(FindFileNoCase(files, "Data", "sub"), "");

  const auto open = files.Open("top.txt");
  files.Put("top.txt", "longer");
  files.Remove("Data/hum.wzl");
  EXPECT_EQ(open->Size(), 1u);
  EXPECT_EQ(files.Open("top.txt")->Size(), 6u);
  EXPECT_FALSE(files.Exists("Data/hum.wzl"));
}

}  // namespace

// The admin token: made once, owner-only, kept across restarts; found in the request headers;
// compared whatever the bytes.
#include "app/AdminToken.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "platform/FileSystem.h"
#include "support/TempDir.h"

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 0777;
}

TEST(AdminToken, MadeOnceOwnerOnlyAndKeptAcrossRestarts) {
  TempDir dir;
  const mode_t old = ::umask(0);  // even a permissive umask gives an owner-only file
  const std::string first = LoadOrCreateAdminToken("admin.token");
  ::umask(old);
  EXPECT_EQ(ModeOf(dir.PathOf("admin.token")), 0600u);
  EXPECT_EQ(first.size(), 64u);
  EXPECT_EQ(first.find_first_not_of("0123456789abcdef"), std::string::npos) << first;
  EXPECT_EQ(dir.ReadFile("admin.token"), first + "\n");
  EXPECT_EQ(LoadOrCreateAdminToken("admin.token"), first);

  TempDir other;
  EXPECT_NE(LoadOrCreateAdminToken("admin.token"), first) << "every installation gets its own secret";
}

TEST(AdminToken, OperatorsOwnTokenIsTakenTrimmed) {
  TempDir dir;
  const std::string own(40, 'k');
  dir.WriteFile("my.token", "  " + own + "\r\n");
  ::chmod(dir.PathOf("my.token").c_str(), 0400);
  EXPECT_EQ(LoadOrCreateAdminToken("my.token"), own);
}

TEST(AdminToken, UnsafeOrUnusableFilesAreRefusedAndLeftAlone) {
  TempDir dir;
  const std::string good(40, 'k');
  const struct {
    const char* what;
    std::string bytes;
    mode_t mode;
  } cases[] = {
      {"readable by the group", good, 0640},
      {"readable by anyone", good, 0644},
      {"empty", "", 0600},
      {"too short to be a secret", "abc", 0600},
      {"a blank inside", std::string(20, 'k') + " " + std::string(20, 'k'), 0600},
      {"not ASCII", std::string(40, '\xe4'), 0600},
  };
  for (const auto& c : cases) {
    dir.WriteFile("admin.token", c.bytes);
    ::chmod(dir.PathOf("admin.token").c_str(), c.mode);
    EXPECT_THROW(LoadOrCreateAdminToken("admin.token"), EInOutError) << c.what;
    EXPECT_EQ(dir.ReadFile("admin.token"), c.bytes) << c.what;
    EXPECT_EQ(ModeOf(dir.PathOf("admin.token")), c.mode) << c.what;
  }
  // A directory in the token's place cannot hold one.
  EXPECT_TRUE(ForceDirectories(dir.PathOf("dir.token")));
  EXPECT_THROW(LoadOrCreateAdminToken("dir.token"), EInOutError);
}

TEST(AdminToken, BearerTokenFromTheHeaders) {
  const struct {
    const char* headers;
    const char* token;
  } cases[] = {
      {"Host: x\r\nAuthorization: Bearer abc\r\nRemoteIP: 127.0.0.1\r\n", "abc"},
      {"authorization:   bearer   abc  \r\n", "abc"},
      {"AUTHORIZATION: BEARER abc\r\n", "abc"},
      {"Authorization: Basic YWJjOmRlZg==\r\n", ""},
      {"Authorization: Bearer\r\n", ""},
      {"Authorization: Bearer \r\n", ""},
      {"Authorization: Bearer abc\r\nAuthorization: Bearer abc\r\n", ""},  // two: neither counts
      {"X-Authorization: Bearer abc\r\n", ""},
      {"Host: x\r\n", ""},
      {"", ""},
      {"Authorization: Bearer abc", "abc"},  // no line end after the last line
  };
  for (const auto& c : cases) EXPECT_EQ(BearerToken(c.headers), c.token) << c.headers;
}

TEST(AdminToken, SameTokenOnlyForTheWholeToken) {
  const std::string token(64, 'a');
  EXPECT_TRUE(SameToken(token, token));
  EXPECT_FALSE(SameToken("", token));
  EXPECT_FALSE(SameToken(token.substr(0, 63), token));
  EXPECT_FALSE(SameToken(token + "a", token));
  EXPECT_FALSE(SameToken(std::string(63, 'a') + "b", token));
  EXPECT_FALSE(SameToken(std::string(64, '\0'), token));
  EXPECT_FALSE(SameToken("", "")) << "no token never lets anyone in";
}

}  // namespace

// The request guards: token, Host, Origin, cookies, ".." and the folder allow-list.
#include "guards.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

namespace quillo::desktop {
namespace {

TEST(GuardsTest, Token) {
  std::string a = NewToken(), b = NewToken();
  EXPECT_EQ(a.size(), 32u);
  EXPECT_NE(a, b);
  EXPECT_TRUE(TokenEquals(a, a));
  EXPECT_FALSE(TokenEquals(a, b));
  EXPECT_FALSE(TokenEquals("", ""));
  EXPECT_FALSE(TokenEquals(a, a.substr(0, 31)));
}

TEST(GuardsTest, HostAndOrigin) {
  EXPECT_TRUE(HostAllowed("127.0.0.1:8080", 8080));
  EXPECT_TRUE(HostAllowed("localhost:8080", 8080));
  for (const char* host : {"127.0.0.1:8081", "127.0.0.1", "evil.example:8080",
                           "127.0.0.1.evil.example:8080", "", "[::1]:8080", "0.0.0.0:8080"})
    EXPECT_FALSE(HostAllowed(host, 8080)) << host;
  EXPECT_TRUE(OriginAllowed("", 8080));
  EXPECT_TRUE(OriginAllowed("http://127.0.0.1:8080", 8080));
  for (const char* origin : {"null", "http://127.0.0.1:8081", "https://127.0.0.1:8080",
                             "http://evil.example", "http://127.0.0.1:8080.evil.example"})
    EXPECT_FALSE(OriginAllowed(origin, 8080)) << origin;
}

TEST(GuardsTest, Cookies) {
  EXPECT_EQ(CookieValue("a=1; quillo_80=abc; b=2", "quillo_80"), "abc");
  EXPECT_EQ(CookieValue("quillo_800=abc", "quillo_80"), "");
  EXPECT_EQ(CookieValue("", "quillo_80"), "");
}

TEST(GuardsTest, DotDot) {
  for (const char* p : {"/a/../b", "..", "/a/..", "../a", "/a/%2e%2e/b", "/a/%2E%2e%2fb/x",
                        "a\\..\\b", "/a/.%2e/b"})
    EXPECT_TRUE(HasDotDot(p)) << p;
  for (const char* p : {"/a/b", "/a/..b/c", "/a/b../c", "/a/./b", "/.../x", ""})
    EXPECT_FALSE(HasDotDot(p)) << p;
}

TEST(GuardsTest, KindsByExtension) {
  EXPECT_EQ(KindOfFile("/a/B.RTF"), FileKind::kRtf);
  EXPECT_EQ(KindOfFile("a.b.doc"), FileKind::kWord);
  EXPECT_EQ(KindOfFile("a.docx"), FileKind::kWord);
  EXPECT_EQ(KindOfFile("a.odt"), FileKind::kWord);
  EXPECT_EQ(KindOfFile("a.Htm"), FileKind::kHtml);
  EXPECT_EQ(KindOfFile("a.xml"), FileKind::kXml);
  EXPECT_EQ(KindOfFile("a.txt"), FileKind::kOther);
  EXPECT_EQ(KindOfFile("rtf"), FileKind::kOther);
  EXPECT_EQ(KindOfFile("/dir.rtf/file"), FileKind::kOther);
}

TEST(GuardsTest, AllowListResolvesOnlyInsideOpenedFolders) {
  char pattern[] = "/tmp/quillo-guards-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string root = pattern;
  ASSERT_EQ(system(("mkdir -p " + root + "/open/sub " + root + "/closed").c_str()), 0);
  for (const char* f : {"/open/a.html", "/open/sub/b.png", "/closed/secret.txt"})
    std::ofstream(root + f) << "x";
  ASSERT_EQ(symlink((root + "/closed/secret.txt").c_str(), (root + "/open/link.txt").c_str()), 0);
  FolderAllowList list;
  EXPECT_FALSE(list.Add(root + "/missing"));
  ASSERT_TRUE(list.Add(root + "/open"));
  EXPECT_EQ(list.Resolve(root + "/open/a.html"), root + "/open/a.html");
  EXPECT_EQ(list.Resolve(root + "/open/sub/b.png"), root + "/open/sub/b.png");
  EXPECT_EQ(list.Resolve(root + "/closed/secret.txt"), "");
  EXPECT_EQ(list.Resolve(root + "/open/../closed/secret.txt"), "");
  EXPECT_EQ(list.Resolve(root + "/open/link.txt"), "")
      << "a link out of the folder is followed, then refused";
  EXPECT_EQ(list.Resolve(root + "/open"), "") << "folders are not files";
  EXPECT_EQ(list.Resolve("open/a.html"), "") << "relative paths are refused";
  EXPECT_EQ(list.Resolve(root + "/openx/a.html"), "");
  EXPECT_EQ(system(("rm -rf " + root).c_str()), 0);
}

}  // namespace
}  // namespace quillo::desktop

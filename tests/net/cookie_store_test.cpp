#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

#include "net/cookie_jar.h"
#include "net/cookie_store.h"
#include "net/loopback_server.h"

namespace qp {
namespace {

constexpr char kFarFuture[] = "Sat, 01-Jan-3000 00:00:00 GMT";

TEST(CookieDate, ReadsTheUsualForms) {
  struct Case {
    const char* text;
    bool ok;
    int64_t seconds;
  };
  const Case cases[] = {
      {"Sat, 01-Jan-3000 00:00:00 GMT", true, 32503680000},
      {"Thu, 01 Jan 1970 00:00:10 GMT", true, 10},
      {"Wed, 21 Oct 2015 07:28:00 GMT", true, 1445412480},
      {"Sunday, 06-Nov-94 08:49:37 GMT", true, 784111777},
      {"Sun Nov  6 08:49:37 1994", true, 784111777},
      {"not a date", false, 0},
      {"Wed, 21 Oct 2015", false, 0},
      {"Wed, 32 Oct 2015 07:28:00 GMT", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int64_t seconds = 0;
    EXPECT_EQ(ParseCookieDate(c.text, seconds), c.ok);
    if (c.ok) {
      EXPECT_EQ(seconds, c.seconds);
    }
  }
}

TEST(CookieStore, DefaultPathFollowsXdgDataHome) {
  const char* saved = std::getenv("XDG_DATA_HOME");
  std::string keep = saved ? saved : "";
  setenv("XDG_DATA_HOME", "/data/home", 1);
  EXPECT_EQ(CookieStore::DefaultPath(), "/data/home/quorpack/cookies.txt");
  setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored
  setenv("HOME", std::getenv("HOME") ? std::getenv("HOME") : "/root", 1);
  EXPECT_EQ(CookieStore::DefaultPath(), std::string(std::getenv("HOME")) + "/.local/share/quorpack/cookies.txt");
  if (saved) setenv("XDG_DATA_HOME", keep.c_str(), 1);
  else unsetenv("XDG_DATA_HOME");
}

TEST(CookieStore, HandsOutOnlyTheCookiesThatMatchTheUrl) {
  testing::TempDir dir;
  CookieStore store(dir.File("deep/er/cookies.txt"));
  ASSERT_EQ(store.SetCookies("http://shop.example.com/cart/view?x", {
                "a=1; expires=Sat, 01-Jan-3000 00:00:00 GMT",
                "b=2; path=/; expires=Sat, 01-Jan-3000 00:00:00 GMT",
                "c=3; domain=example.com; path=/",
                "d=4; path=/; secure",
            }), 4u);
  EXPECT_EQ(store.CookiesFor("http://shop.example.com/cart/list"), "a=1; b=2; c=3");
  EXPECT_EQ(store.CookiesFor("https://SHOP.example.com/"), "b=2; c=3; d=4");
  EXPECT_EQ(store.CookiesFor("http://www.example.com/cart/x"), "c=3");
  EXPECT_EQ(store.CookiesFor("http://other.com/"), "");
  EXPECT_EQ(store.CookiesFor("http://shop.example.com/cartoon"), "b=2; c=3");
  EXPECT_EQ(store.CookiesFor("ftp://shop.example.com/"), "");
}

TEST(CookieStore, RefusesForeignDomainsAndStopsAtTheFirstRefusal) {
  testing::TempDir dir;
  CookieStore store(dir.File("cookies.txt"));
  EXPECT_EQ(store.SetCookies("http://a.example.com/", {"x=1", "y=2; domain=other.org", "z=3"}), 1u);
  EXPECT_EQ(store.CookiesFor("http://a.example.com/"), "x=1");
  EXPECT_EQ(store.SetCookies("http:///", {"x=1"}), 0u);
  EXPECT_EQ(store.SetCookies("http://a.example.com/", {"novalue"}), 0u);
}

TEST(CookieStore, ReplacesAndExpires) {
  testing::TempDir dir;
  CookieStore store(dir.File("cookies.txt"));
  store.SetCookies("http://h/", {"a=1", "b=2"});
  store.SetCookies("http://h/", {"a=new"});
  EXPECT_EQ(store.CookiesFor("http://h/"), "a=new; b=2");
  store.SetCookies("http://h/", {"a=x; expires=Thu, 01 Jan 1970 00:00:10 GMT"});
  store.SetCookies("http://h/", {"b=x; max-age=0"});
  EXPECT_EQ(store.CookiesFor("http://h/"), "");
  // An expired line written by someone else is not handed out.
  dir.Write("cookies.txt", "h\tFALSE\t/\tFALSE\t10\told\t1\n#HttpOnly_h\tFALSE\t/\tFALSE\t0\tho\t2\n");
  EXPECT_EQ(store.CookiesFor("http://h/"), "ho=2");
  ASSERT_EQ(store.Load().size(), 1u);
  EXPECT_TRUE(store.Load()[0].httpOnly);
}

// Regressions (fuzzing): a stored line with an empty path field is a cookie
// of the root path (the match used to read the byte before the empty path),
// and a Max-Age too large to add to the current time means "never expires"
// (the sum overflowed and the cookie came out as long expired).
TEST(CookieStore, EmptyStoredPathIsTheRootPath) {
  testing::TempDir dir;
  CookieStore store(dir.File("cookies.txt"));
  dir.Write("cookies.txt", "h\tFALSE\t\tFALSE\t0\ta\t1\n");
  EXPECT_EQ(store.CookiesFor("http://h/"), "a=1");
  EXPECT_EQ(store.CookiesFor("http://h/deep/page"), "a=1");
  ASSERT_EQ(store.Load().size(), 1u);
  EXPECT_EQ(store.Load()[0].path, "/");
}

TEST(CookieStore, HugeMaxAgeNeverExpires) {
  testing::TempDir dir;
  CookieStore store(dir.File("cookies.txt"));
  ASSERT_EQ(store.SetCookies("http://h/", {"a=1; max-age=9223372036854775807",
                                           "b=2; max-age=99999999999999999999999"}), 2u);
  EXPECT_EQ(store.CookiesFor("http://h/"), "a=1; b=2");
  const std::vector<StoredCookie> stored = store.Load();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].expires, INT64_MAX);
  EXPECT_EQ(stored[1].expires, INT64_MAX);
}

// Regressions (fuzzing): every write rewrites the whole file, and a cookie
// the store held came back changed from the rewrite. A tab, CR or other
// control byte in a name, value or path (a request path with a tab makes the
// default path) shifted the tab-separated fields; such cookies are refused
// when set and left out when read, as browsers refuse them. A domain with
// several leading dots lost one per write.
TEST(CookieStore, RefusesCookiesThatTheFileCannotHold) {
  testing::TempDir dir;
  CookieStore store(dir.File("cookies.txt"));
  EXPECT_EQ(store.SetCookies("http://h/a\tb/c", {"x=1"}), 0u);
  EXPECT_EQ(store.SetCookies("http://h/", {"ok=1", "n=v\x01", "after=1"}), 1u);
  EXPECT_EQ(store.SetCookies("http://h/", {"t\tab=1"}), 0u);
  EXPECT_EQ(store.CookiesFor("http://h/"), "ok=1");
  dir.Write("cookies.txt", "h\tFALSE\t/\tFALSE\t0\tcr\tv\rw\nh\tFALSE\t/\tFALSE\t0\tgood\t1\n");
  ASSERT_EQ(store.Load().size(), 1u);
  EXPECT_EQ(store.Load()[0].name, "good");
}

TEST(CookieStore, StoredCookiesSurviveTheRewriteOfAnother) {
  testing::TempDir dir;
  CookieStore store(dir.File("cookies.txt"));
  dir.Write("cookies.txt", "...h\tFALSE\t/p\tTRUE\t0\ta\t1\n..h\tTRUE\t/\tFALSE\t0\tb\t2\n");
  const std::vector<StoredCookie> before = store.Load();
  ASSERT_EQ(before.size(), 2u);
  EXPECT_EQ(before[0].domain, "h");
  EXPECT_EQ(before[1].domain, "h");
  ASSERT_EQ(store.SetCookies("http://h/", {"c=3"}), 1u);
  const std::vector<StoredCookie> after = store.Load();
  ASSERT_EQ(after.size(), 3u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(after[i].domain, before[i].domain);
    EXPECT_EQ(after[i].includeSubdomains, before[i].includeSubdomains);
    EXPECT_EQ(after[i].path, before[i].path);
    EXPECT_EQ(after[i].secure, before[i].secure);
  }
}

TEST(CookieStore, FileIsNetscapeFormatAndPrivate) {
  testing::TempDir dir;
  CookieStore store(dir.File("cookies.txt"));
  ASSERT_EQ(store.SetCookies("https://h.example/p/q", {std::string("s=v; expires=") + kFarFuture}), 1u);
  EXPECT_EQ(dir.Read("cookies.txt"),
            "# Netscape HTTP Cookie File\nh.example\tFALSE\t/p\tFALSE\t32503680000\ts\tv\n");
  struct stat st;
  ASSERT_EQ(stat(dir.File("cookies.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(CookieStore, JarRoundTripThroughTheStore) {
  testing::TempDir dir;
  CookieStore store(dir.File("cookies.txt"));
  CookieJar jar;
  EXPECT_TRUE(jar.SaveToStore(store, "http://site/", kFarFuture));  // empty jar: nothing to do
  EXPECT_FALSE(jar.ResumeFromStore(store, "http://site/"));
  jar.entries = {{"a", "1"}, {"s=x", "2"}};
  ASSERT_TRUE(jar.SaveToStore(store, "http://site/", kFarFuture));
  CookieJar other;
  other.entries = {{"keep", "k"}, {"a", "old"}};
  ASSERT_TRUE(other.ResumeFromStore(store, "http://site/"));
  EXPECT_EQ(other.entries,
            (std::map<std::string, std::string>{{"a", "1"}, {"keep", "k"}, {"s=x", "2"}}));
  EXPECT_EQ(other.header, "a=1;keep=k;s=x=2");
  EXPECT_FALSE(jar.SaveToStore(store, "ftp://site/", kFarFuture));
}

}  // namespace
}  // namespace qp

#include <gtest/gtest.h>

#include "html/element_selector.h"
#include "html/page_url.h"
#include "html/window_geometry.h"

TEST(PageUrlTest, RelativeUrlsResolveAgainstTheBase) {
  struct Row {
    const char16_t* url;
    const char16_t* base;
    const char16_t* resolved;
  } rows[] = {
      {u"res/index.html", u"/opt/morvil", u"file:///opt/morvil/res/index.html"},
      // After that page loaded, the base is the page's directory as a URL.
      {u"popup.html", u"file:///opt/morvil/res", u"file:///opt/morvil/res/popup.html"},
      {u"sub\\popup.html", u"/opt/morvil", u"file:///opt/morvil/sub/popup.html"},
      {u"http://example.com/a.html", u"/opt/morvil", u"http://example.com/a.html"},
      {u"https://example.com/a.html", u"/opt/morvil", u"https://example.com/a.html"},
      {u"file:///x/y.html", u"/opt/morvil", u"file:///x/y.html"},
      {u"www.example.com", u"/opt/morvil", u"www.example.com"},
      {u"morvil.exe/2110", u"/opt/morvil", u"res:///opt/morvil/morvil.exe/2110"},
      {u"page.html", u"http://host/dir", u"http://host/dir/page.html"},
      // A folder name is escaped where URL syntax would read it otherwise; a URL base is not.
      {u"res/index.html", u"/opt/a#b?c%d e", u"file:///opt/a%23b%3Fc%25d%20e/res/index.html"},
      {u"res/index.html", u"/opt/caf\u00e9", u"file:///opt/caf%C3%A9/res/index.html"},
      {u"popup.html?x=1", u"file:///opt/a%23b/res", u"file:///opt/a%23b/res/popup.html?x=1"},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ResolvePageUrl(rows[i].url, rows[i].base), rows[i].resolved);
  }
}

TEST(PageUrlTest, RelativeMeansNoKnownSchemeAtTheStart) {
  EXPECT_TRUE(IsRelativeUrl(u"res/index.html"));
  EXPECT_TRUE(IsRelativeUrl(u"/opt/morvil"));
  EXPECT_TRUE(IsRelativeUrl(u"HTTP://x"));  // schemes compare case-sensitively
  EXPECT_TRUE(IsRelativeUrl(u"file://host/x"));
  EXPECT_FALSE(IsRelativeUrl(u"file:\\\\\\C:\\App"));  // backslashes read as slashes
  EXPECT_FALSE(IsRelativeUrl(u"ftp://x"));
  EXPECT_FALSE(IsRelativeUrl(u"res://x"));
}

TEST(PageUrlTest, ResourceIdUrls) {
  EXPECT_TRUE(IsResourceIdUrl(u"app.exe/2110"));
  EXPECT_TRUE(IsResourceIdUrl(u"app.dll\\12\\34"));
  EXPECT_TRUE(IsResourceIdUrl(u"app.exe/"));     // nothing after the separator
  EXPECT_TRUE(IsResourceIdUrl(u"x.dll.exe/5"));  // ".exe" is looked for first
  EXPECT_FALSE(IsResourceIdUrl(u"app.exe/page.html"));
  EXPECT_FALSE(IsResourceIdUrl(u"res/index.html"));
  EXPECT_FALSE(IsResourceIdUrl(u"downloads/setup.exe"));  // ends at the extension: a file
  EXPECT_FALSE(IsResourceIdUrl(u"app.EXE/1"));
}

TEST(PageUrlTest, LocalPages) {
  EXPECT_TRUE(IsLocalPageUrl(u"file:///opt/morvil/res/index.html"));
  EXPECT_TRUE(IsLocalPageUrl(u"res://app.exe/1"));
  EXPECT_TRUE(IsLocalPageUrl(u"C:\\page.html"));
  EXPECT_FALSE(IsLocalPageUrl(u"http://127.0.0.1/page.html"));
  EXPECT_FALSE(IsLocalPageUrl(u"https://host/"));
  EXPECT_TRUE(IsRemotePageUrl(u"http://127.0.0.1/page.html"));
  EXPECT_TRUE(IsRemotePageUrl(u"https://host/"));
  EXPECT_FALSE(IsRemotePageUrl(u"file:///opt/morvil/res/index.html"));
  EXPECT_FALSE(IsLocalPageUrl(u"c"));
}

TEST(ElementSelectorTest, KindsAndWholeAttributeMatching) {
  ElementSelector by_class = ElementSelector::Parse(u".container");
  EXPECT_EQ(by_class.kind, ElementSelector::Kind::kClass);
  EXPECT_EQ(by_class.name, u"container");
  EXPECT_TRUE(by_class.Matches(u"CONTAINER"));
  EXPECT_FALSE(by_class.Matches(u"container extra"));
  EXPECT_FALSE(by_class.Matches(u"container "));

  ElementSelector by_id = ElementSelector::Parse(u"#Main");
  EXPECT_EQ(by_id.kind, ElementSelector::Kind::kId);
  EXPECT_TRUE(by_id.Matches(u"main"));

  ElementSelector by_tag = ElementSelector::Parse(u"div");
  EXPECT_EQ(by_tag.kind, ElementSelector::Kind::kTag);
  EXPECT_EQ(MatchElements(by_tag, {u"HTML", u"BODY", u"DIV", u"P", u"DIV"}),
            (std::vector<size_t>{2, 4}));

  // An empty selector selects by tag with an empty name: nothing real matches.
  ElementSelector empty = ElementSelector::Parse(u"");
  EXPECT_EQ(empty.kind, ElementSelector::Kind::kTag);
  EXPECT_TRUE(MatchElements(empty, {u"HTML", u"DIV"}).empty());
}

TEST(WindowGeometryTest, CentresTheContainerNotTheWindow) {
  const RECT desktop{0, 0, 1920, 1080};
  EXPECT_EQ(CenterOnScreenOrigin(desktop, RECT{0, 0, 600, 400}), (WindowOrigin{660, 340}));
  // A remote page's container somewhere inside a 1920 x 1080 window.
  EXPECT_EQ(CenterOnScreenOrigin(desktop, RECT{70, 50, 390, 290}), (WindowOrigin{730, 370}));
  // Odd differences truncate toward zero, also when negative.
  EXPECT_EQ(CenterOnScreenOrigin(desktop, RECT{0, 0, 1921, 1081}), (WindowOrigin{0, 0}));
  EXPECT_EQ(CenterOnScreenOrigin(desktop, RECT{0, 0, 1923, 1083}), (WindowOrigin{-1, -1}));

  const RECT parent_window{100, 50, 900, 650};
  const RECT parent_container{0, 0, 800, 600};
  EXPECT_EQ(CenterOnParentOrigin(parent_window, parent_container, RECT{0, 0, 400, 300}),
            (WindowOrigin{300, 200}));
  EXPECT_EQ(CenterOnParentOrigin(parent_window, RECT{10, 20, 810, 620}, RECT{5, 5, 405, 305}),
            (WindowOrigin{305, 215}));
}

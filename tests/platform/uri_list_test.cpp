// The paths of a drop's text/uri-list, byte for byte.
#include "platform/uri_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace pixmoor::platform {
namespace {

struct UriListRow {
  const char* label;
  std::string list;
  std::vector<std::string> paths;
};

using Paths = std::vector<std::string>;

TEST(UriList, LocalFileUrlsBecomeTheirExactBytes) {
  const UriListRow rows[] = {
      {"one file", "file:///home/u/a.jpg\r\n", Paths{"/home/u/a.jpg"}},
      {"no line end at the end", "file:///a.jpg", Paths{"/a.jpg"}},
      {"Latin-1 byte", "file:///card/caf%E9.jpg\r\n", Paths{"/card/caf\xE9.jpg"}},
      {"UTF-8 bytes", "file:///caf%C3%A9.jpg\r\n", Paths{"/caf\xC3\xA9.jpg"}},
      {"lower-case escapes", "file:///caf%c3%a9.jpg", Paths{"/caf\xC3\xA9.jpg"}},
      {"unescaped UTF-8 passes", "file:///caf\xC3\xA9.jpg", Paths{"/caf\xC3\xA9.jpg"}},
      {"escaped marks", "file:///a%20%231%3F%25.jpg", Paths{"/a #1?%.jpg"}},
      {"a backslash is a name's byte", "file:///a%5Cb.jpg", Paths{"/a\\b.jpg"}},
      {"order kept, LF alone ends a line too", "file:///b.jpg\nfile:///a.jpg\r\nfile:///c.jpg",
       Paths{"/b.jpg", "/a.jpg", "/c.jpg"}},
      {"comments and empty lines", "# from a file manager\r\n\r\nfile:///a.jpg\r\n\r\n", Paths{"/a.jpg"}},
      {"localhost and the scheme in capitals", "FILE://LocalHost/a.jpg\r\n", Paths{"/a.jpg"}},
      {"the short form", "file:/a.jpg", Paths{"/a.jpg"}},
      {"query and fragment are no part of the path", "file:///a.jpg?x=1\r\nfile:///b.jpg#top",
       Paths{"/a.jpg", "/b.jpg"}},
      {"a stray percent stays", "file:///100%.jpg\r\nfile:///a%4.jpg\r\nfile:///b%zz.jpg",
       Paths{"/100%.jpg", "/a%4.jpg", "/b%zz.jpg"}},
      {"other schemes are left out", "http://example.org/a.jpg\r\nsmb://host/b.jpg\r\nfile:///c.jpg",
       Paths{"/c.jpg"}},
      {"another host is no local file", "file://elsewhere/a.jpg\r\nfile:///b.jpg", Paths{"/b.jpg"}},
      {"no path, a relative path, an escaped NUL", "file://\r\nfile:a.jpg\r\nfile:///a%00b.jpg", Paths{}},
      {"nothing at all", "", Paths{}},
  };
  for (const UriListRow& row : rows) {
    EXPECT_EQ(localPathsOfUriList(row.list), row.paths) << row.label;
  }
}

TEST(UriList, ThisMachinesOwnNameIsLocal) {
  char name[256] = {};
  ASSERT_EQ(::gethostname(name, sizeof name - 1), 0);
  if (name[0] == '\0') GTEST_SKIP() << "this machine has no name";
  EXPECT_EQ(localPathsOfUriList("file://" + std::string(name) + "/a%E9.jpg\r\n"), Paths{"/a\xE9.jpg"});
}

}  // namespace
}  // namespace pixmoor::platform

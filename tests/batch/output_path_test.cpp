#include "batch/output_path.h"

#include <gtest/gtest.h>

namespace pixmoor::batch {
namespace {

struct Row {
  const char* source;
  const char* prefix;
  const char* extension;
  const char* output;
};

TEST(OutputPath, NamesTable) {
  const Row rows[] = {
      {"/Photos/IMG_0001.JPEG", "prefix_", "jpg", "/Photos/prefix_IMG_0001.jpg"},
      {"/Photos/IMG_0001.jpeg", "prefix_", "png", "/Photos/prefix_IMG_0001.png"},
      {"/a/b.c/pic.png", "prefix_", "jpg", "/a/b.c/prefix_pic.jpg"},
      {"/Photos/my.photo.final.png", "prefix_", "jpg", "/Photos/prefix_my.photo.final.jpg"},
      {"/Photos/IMG_0001.jpg", "", "jpg", "/Photos/IMG_0001.jpg"},
      {"/Photos/IMG.JPG", "prefix_", "jpg", "/Photos/prefix_IMG.jpg"},
      {"/Photos/IMG.jpeg", "prefix_", "jpg", "/Photos/prefix_IMG.jpg"},
      {"/Photos/IMG.JPG", "prefix_", "png", "/Photos/prefix_IMG.png"},
      {"/Photos/prefix_a.jpg", "prefix_", "jpg", "/Photos/prefix_prefix_a.jpg"},
      {"/Photos/a.png", "", "jpg", "/Photos/a.jpg"},
      {"/Photos/a.tif", "fix", "png", "/Photos/fixa.png"},
      {"/", "p", "jpg", "/p.jpg"},
      {"/x.bmp", "", "png", "/x.png"},
      {"relative.jpg", "p_", "jpg", "p_relative.jpg"},
      {"/dir/back\\slash.jpg", "p_", "jpg", "/dir/p_back\\slash.jpg"},
      {"/dir/two\nlines.jpg", "p_", "jpg", "/dir/p_two\nlines.jpg"},
      {"/dir/caf\xC3\xA9.JPG", "\xC3\xA9t\xC3\xA9_", "jpg", "/dir/\xC3\xA9t\xC3\xA9_caf\xC3\xA9.jpg"},
      // The prefix is taken as typed: a dot in it does not count once a name follows.
      {"/dir/pic.jpg", "v1.2_", "jpg", "/dir/v1.2_pic.jpg"},
      // A prefix holding a "/" moves the output into a subfolder; a dot before it is no extension.
      {"/dir/pic", "sub.d/", "jpg", "/dir/sub.d/pic.jpg"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(outputPath(row.source, row.prefix, row.extension), row.output)
        << row.source << " " << row.prefix;
  }
}

// The extension follows the format; an unknown format, which writes
// nothing, still names the picture by its text; "0" is no prefix.
TEST(OutputPath, FromTheSettings) {
  const struct {
    const char* format;
    const char* prefix;
    const char* output;
  } rows[] = {
      {"JPG", "p_", "/dir/p_pic.jpg"}, {"PNG", "p_", "/dir/p_pic.png"}, {"Gif", "p_", "/dir/p_pic.gif"},
      {"PNG", "0", "/dir/pic.png"},    {"JPG", "", "/dir/pic.jpg"},
  };
  for (const auto& row : rows) {
    settings::Settings s;
    settings::setOutputFormatFromText(s, row.format);
    s.prefix = row.prefix;
    EXPECT_EQ(outputPath("/dir/pic.jpg", s), row.output) << row.format << " " << row.prefix;
  }
}

// An output folder mirrors the tree walked; what lies outside it goes to the folder itself.
TEST(OutputPath, InAnOutputFolder) {
  const struct {
    const char* source;
    const char* tree;
    const char* folder;
    const char* output;
  } rows[] = {
      {"/p/a/IMG.JPEG", "/p", "out", "out/a/p_IMG.jpg"},
      {"/p/a/b/c.png", "/p/", "/web/", "/web/a/b/p_c.jpg"},
      {"/p/top.jpg", "/p", "out", "out/p_top.jpg"},
      {"/pq/a/x.jpg", "/p", "out", "out/p_x.jpg"},
      {"photos/2024/x.jpg", "photos", "w.d", "w.d/2024/p_x.jpg"},
      {"x.bmp", "", "out", "out/p_x.jpg"},
      {"/x/y.jpg", "/", "/o", "/o/x/p_y.jpg"},
  };
  settings::Settings s;
  s.prefix = "p_";
  for (const auto& row : rows) {
    const OutputChoice choice{.folder = row.folder, .tree = row.tree};
    EXPECT_EQ(outputPath(row.source, s, choice), row.output) << row.source;
  }
  // The empty prefix there replaces nothing: the name is the source's, in another folder.
  s.prefix = "0";
  EXPECT_EQ(outputPath("/p/a.jpg", s, OutputChoice{.folder = "/o", .tree = "/p"}), "/o/a.jpg");
  EXPECT_EQ(outputPath("/p/a.jpg", s, OutputChoice{}), "/p/a.jpg");
}

TEST(OutputPath, NumberedAsFileManagersDo) {
  EXPECT_EQ(numberedPath("/d/name.jpg", 1), "/d/name (1).jpg");
  EXPECT_EQ(numberedPath("/d/my.photo.webp", 12), "/d/my.photo (12).webp");
  EXPECT_EQ(numberedPath("/d.x/name", 2), "/d.x/name (2)");
  EXPECT_EQ(numberedPath("/d/.hidden", 1), "/d/.hidden (1)");
}

}  // namespace
}  // namespace pixmoor::batch

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

}  // namespace
}  // namespace pixmoor::batch

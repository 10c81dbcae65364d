#include "batch/output_path.h"

#include <gtest/gtest.h>

namespace pixmoor::batch {
namespace {

struct Row {
  const char* source;
  const char* prefix;
  const char* format;
  const char* output;
};

TEST(OutputPath, NamesTable) {
  const Row rows[] = {
      {"/Photos/IMG_0001.JPEG", "prefix_", "JPG", "/Photos/prefix_IMG_0001.jpg"},
      {"/Photos/IMG_0001.jpeg", "prefix_", "PNG", "/Photos/prefix_IMG_0001.png"},
      {"/a/b.c/pic.png", "prefix_", "JPG", "/a/b.c/prefix_pic.jpg"},
      {"/Photos/my.photo.final.png", "prefix_", "JPG", "/Photos/prefix_my.photo.final.jpg"},
      {"/Photos/IMG_0001.jpg", "", "JPG", "/Photos/IMG_0001.jpg"},
      {"/Photos/IMG.JPG", "prefix_", "JPG", "/Photos/prefix_IMG.jpg"},
      {"/Photos/IMG.jpeg", "prefix_", "JPG", "/Photos/prefix_IMG.jpg"},
      {"/Photos/IMG.JPG", "prefix_", "PNG", "/Photos/prefix_IMG.png"},
      {"/Photos/prefix_a.jpg", "prefix_", "JPG", "/Photos/prefix_prefix_a.jpg"},
      {"/Photos/a.png", "", "JPG", "/Photos/a.jpg"},
      {"/Photos/a.tif", "fix", "PNG", "/Photos/fixa.png"},
      {"/", "p", "JPG", "/p.jpg"},
      {"/x.bmp", "", "PNG", "/x.png"},
      {"relative.jpg", "p_", "JPG", "p_relative.jpg"},
      {"/dir/back\\slash.jpg", "p_", "JPG", "/dir/p_back\\slash.jpg"},
      {"/dir/two\nlines.jpg", "p_", "JPG", "/dir/p_two\nlines.jpg"},
      {"/dir/caf\xC3\xA9.JPG", "\xC3\xA9t\xC3\xA9_", "JPG", "/dir/\xC3\xA9t\xC3\xA9_caf\xC3\xA9.jpg"},
      // The prefix is taken as typed: a dot in it does not count once a name follows.
      {"/dir/pic.jpg", "v1.2_", "JPG", "/dir/v1.2_pic.jpg"},
      // A prefix holding a "/" moves the output into a subfolder; a dot before it is no extension.
      {"/dir/pic", "sub.d/", "JPG", "/dir/sub.d/pic.jpg"},
      // A format other than JPG or PNG still names the file (nothing is saved under it).
      {"/dir/pic.jpg", "p_", "Gif", "/dir/p_pic.gif"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(outputPath(row.source, row.prefix, row.format), row.output) << row.source << " " << row.prefix;
  }
}

}  // namespace
}  // namespace pixmoor::batch

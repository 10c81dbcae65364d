#include "batch/status_texts.h"

#include <gtest/gtest.h>

#include "texts/ui_texts.h"

namespace pixmoor::batch {
namespace {

BatchTexts textsFor(const char* language) {
  return batchTextsFrom(texts::BuildUiTexts(language, "Pixmoor 2011 v", "1.4.1", "\n", 1920, 1080,
                                            "http://www.pixmoor.example"));
}

TEST(StatusTexts, ProgressLineDropsTheFirstThreeCharactersOfTheName) {
  struct Row {
    std::int32_t remaining;
    std::int32_t total;
    const char* path;
    const char* text;
  };
  const Row rows[] = {
      {12, 12, "/photos/prefix_IMG_0001.jpg", "12/12 - fix_IMG_0001.jpg"},
      {1, 12, "/photos/prefix_IMG_0001.jpg", "1/12 - fix_IMG_0001.jpg"},
      {3, 3, "/photos/abc.jpg", "3/3 - .jpg"},
      {3, 3, "/photos/abc", "3/3 - "},
      {3, 3, "/photos/ab", "3/3 - "},
      {3, 3, "", "3/3 - "},
      {0, 0, "noslash_name.png", "0/0 - lash_name.png"},
      {2, 5, "/odd\\dir/pre_x.jpg", "2/5 - _x.jpg"},
      {-1, 2147483647, "/p/\xC3\xA9t\xC3\xA9_a.jpg", "-1/2147483647 - _a.jpg"},
      {7, 9, "/p/ab\xC3\xA9z.png", "7/9 - z.png"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(progressText(row.remaining, row.total, row.path), row.text) << row.path;
  // The companion's lines show the name whole.
  EXPECT_EQ(progressText(1, 12, "/photos/prefix_IMG_0001.jpg", ProgressName::whole),
            "1/12 - prefix_IMG_0001.jpg");
  EXPECT_EQ(progressText(3, 3, "/photos/ab", ProgressName::whole), "3/3 - ab");
}

TEST(StatusTexts, FrenchCompletionAndStop) {
  const BatchTexts fr = textsFor("FR");
  EXPECT_EQ(completionText(fr, 12),
            "Termin\xC3\xA9 ! 12 images trait\xC3\xA9"
            "es.");
  EXPECT_EQ(completionText(fr, 3),
            "Termin\xC3\xA9 ! 3 images trait\xC3\xA9"
            "es.");
  EXPECT_EQ(stopText(fr, 4, 10),
            "Arr\xC3\xAAt : 4/10 images trait\xC3\xA9"
            "es !");
  EXPECT_EQ(stopText(fr, 0, 1),
            "Arr\xC3\xAAt : 0/1 images trait\xC3\xA9"
            "es !");
}

TEST(StatusTexts, EnglishCompletionAndStop) {
  const BatchTexts uk = textsFor("UK");
  EXPECT_EQ(completionText(uk, 3), "Finish ! 3 pictures were processed..");
  // The stop text keeps its French ending in both languages.
  EXPECT_EQ(stopText(uk, 4, 10),
            "Stop : 4/10 images trait\xC3\xA9"
            "es !");
  EXPECT_EQ(stopText(uk, 5, 10),
            "Stop : 5/10 images trait\xC3\xA9"
            "es !");
}

TEST(StatusTexts, UnknownLanguageKeepsOnlyTheFixedParts) {
  const BatchTexts none = textsFor("DE");
  EXPECT_EQ(completionText(none, 3), "3");
  EXPECT_EQ(stopText(none, 1, 2),
            "1/2 images trait\xC3\xA9"
            "es !");
}

}  // namespace
}  // namespace pixmoor::batch

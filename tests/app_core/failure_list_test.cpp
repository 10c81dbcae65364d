// The information area's list of the pictures that produced no file: its
// heading in the singular and the plural, names without their folders, a
// Stop's leftovers left out, and a reason for every FailureReason in both
// languages (in English, the companion's words).
#include "app_core/failure_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace pixmoor::app {
namespace {

using batch::FailureReason;
using batch::PictureFailure;

texts::UiTexts textsOf(const char* language) {
  return texts::BuildUiTexts(language, "Pixmoor 2011 v", "1.4.1", "\n", 1920, 1080, "http://x");
}

struct ListRow {
  const char* language;
  std::vector<PictureFailure> failures;
  const char* expected;
};

class FailureList : public ::testing::TestWithParam<ListRow> {};

TEST_P(FailureList, Reads) {
  const ListRow& row = GetParam();
  EXPECT_EQ(failureListText(row.failures, textsOf(row.language)), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FailureList,
    ::testing::Values(
        ListRow{"FR",
                {{"/photos/a.jpg", FailureReason::diskFull}},
                "1 image n'a produit aucun fichier :\na.jpg : disque plein"},
        ListRow{"UK",
                {{"/photos/a.jpg", FailureReason::writeProtected}, {"b.png", FailureReason::noSize}},
                "2 pictures produced no file:\na.jpg: write-protected file\n"
                "b.png: no size (the size settings give no usable target)"},
        ListRow{"FR",
                {{"/a/x.jpg", FailureReason::folderNotWritable},
                 {"/a/y.jpg", FailureReason::stopped},
                 {"/a/z.jpg", FailureReason::stopped}},
                "1 image n'a produit aucun fichier :\nx.jpg : dossier protégé en écriture"},
        ListRow{"UK", {{"/a/y.jpg", FailureReason::stopped}}, ""}, ListRow{"FR", {}, ""},
        // A name without a folder is shown whole.
        ListRow{
            "FR",
            {{"plain.bmp", FailureReason::unreadable}, {"/a/b/c.jpg", FailureReason::wouldReplaceAnother}},
            "2 images n'ont produit aucun fichier :\nplain.bmp : fichier illisible\nc.jpg : remplacerait une "
            "autre image"}));

TEST(FailureReasons, EveryReasonIsWordedInBothLanguages) {
  const texts::UiTexts french = textsOf("FR");
  const texts::UiTexts english = textsOf("UK");
  for (int value = static_cast<int>(FailureReason::unreadable);
       value <= static_cast<int>(FailureReason::timedOut); ++value) {
    const auto reason = static_cast<FailureReason>(value);
    EXPECT_FALSE(reasonText(french, reason).empty()) << value;
    EXPECT_NE(reasonText(french, reason), reasonText(english, reason)) << value;
    EXPECT_EQ(reasonText(english, reason), batch::failureReasonText(reason)) << value;
  }
  EXPECT_TRUE(reasonText(french, FailureReason::none).empty());
}

}  // namespace
}  // namespace pixmoor::app

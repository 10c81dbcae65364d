// Could two paths name one file, now or once one of them is written?
#include "files/same_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/temp_folder.h"

namespace pixmoor::files {
namespace {

using pixmoor::testing::TempFolder;
using pixmoor::testing::writeBytes;

TEST(SameFile, ByIdentityOrByWhereTheNamesLead) {
  TempFolder folder;
  std::filesystem::create_directory(folder.file("sub"));
  writeBytes(folder.file("a.jpg"), "a");
  writeBytes(folder.file("sub/a.jpg"), "other a");
  ASSERT_EQ(link(folder.file("a.jpg").c_str(), folder.file("hard.jpg").c_str()), 0);
  ASSERT_EQ(symlink("a.jpg", folder.file("soft.jpg").c_str()), 0);
  ASSERT_EQ(symlink("big.jpg", folder.file("alias.jpg").c_str()), 0);  // big.jpg is not written yet
  const std::string spelled = folder.path().string() + "/sub/../a.jpg";

  EXPECT_TRUE(couldBeSameFile(folder.file("a.jpg"), spelled));
  EXPECT_TRUE(couldBeSameFile(folder.file("a.jpg"), folder.file("hard.jpg")));
  EXPECT_TRUE(couldBeSameFile(folder.file("a.jpg"), folder.file("soft.jpg")));
  EXPECT_TRUE(couldBeSameFile(folder.file("big.jpg"), folder.file("alias.jpg")));
  EXPECT_TRUE(couldBeSameFile(folder.file("new.jpg"), folder.file("sub/../new.jpg")));
  EXPECT_FALSE(couldBeSameFile(folder.file("a.jpg"), folder.file("sub/a.jpg")));
  EXPECT_FALSE(couldBeSameFile(folder.file("big.png"), folder.file("alias.jpg")));
  // An ordinary folder keeps case apart.
  EXPECT_FALSE(couldBeSameFile(folder.file("A.JPG"), folder.file("a.jpg")));
  EXPECT_EQ(identityOf(folder.file("soft.jpg")), identityOf(folder.file("a.jpg")));
  EXPECT_FALSE(identityOf(folder.file("alias.jpg")));
}

TEST(SameFile, NamesInACaseFoldingFolder) {
  struct Row {
    const char* a;
    const char* b;
    bool match;
  };
  const Row rows[] = {
      {"IMG_0001.JPG", "img_0001.jpg", true},
      {"a.jpg", "b.jpg", false},
      {"a.jpg", "a.jpeg", false},
      {"\xC3\x89t\xC3\xA9.jpg", "\xC3\xA9t\xC3\xA9.JPG", true},  // "Été" and "été"
      {"\xC3\x89t\xC3\xA9.jpg", "ete.jpg", false},
  };
  for (const Row& row : rows)
    EXPECT_EQ(namesMayMatchFolded(row.a, row.b), row.match) << row.a << " " << row.b;
}

}  // namespace
}  // namespace pixmoor::files

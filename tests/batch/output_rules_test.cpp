// Which file an output may replace: without a prefix only its own source,
// judged where the output's name leads; in a run that keeps its files, never
// another source nor a file the run wrote.
#include "batch/output_rules.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_folder.h"

namespace pixmoor::batch {
namespace {

using testing::TempFolder;
using testing::writeBytes;

files::FileIdentity identity(const std::string& path) {
  return files::identityOf(path).value();
}

TEST(OutputRules, WithoutAPrefixALinkCountsWhereItLeads) {
  TempFolder folder;
  std::filesystem::create_directory(folder.path() / "real");
  for (const char* name : {"a.png", "real/b.jpg", "real/C.JPG", "plain.jpg"})
    writeBytes(folder.file(name), "x");
  std::filesystem::create_symlink("a.png", folder.path() / "a.jpg");
  std::filesystem::create_symlink("real/b.jpg", folder.path() / "b.jpg");
  std::filesystem::create_symlink("real/C.JPG", folder.path() / "c.jpg");
  settings::Settings jpeg;
  jpeg.prefix = "0";
  struct Row {
    const char* source;
    const char* replaceable;  // nullptr: no file
  };
  const Row rows[] = {
      {"plain.jpg", "plain.jpg"},
      {"b.jpg", "real/b.jpg"},  // the file it leads to carries the output's name
      {"a.jpg", nullptr},       // JPEG bytes under a.png's name
      {"c.jpg", nullptr},       // C.JPG itself would give C.jpg
  };
  for (const Row& row : rows) {
    const std::string source = folder.file(row.source);
    EXPECT_EQ(replaceableWithoutPrefix(source, source, jpeg),
              row.replaceable ? identity(folder.file(row.replaceable)) : files::FileIdentity{})
        << row.source;
  }
  // The source a.png's output a.jpg leads back to a.png: refused the same way.
  EXPECT_EQ(replaceableWithoutPrefix(folder.file("a.png"), folder.file("a.jpg"), jpeg),
            files::FileIdentity{});
}

TEST(OutputRules, ARunKeepsItsSourcesAndWhatItWrote) {
  TempFolder folder;
  for (const char* name : {"a.jpg", "pa.jpg", "other.jpg"}) writeBytes(folder.file(name), "x");
  RunFiles files({folder.file("a.jpg"), folder.file("pa.jpg"), folder.file("missing.jpg")});
  EXPECT_TRUE(files.keeps(folder.file("a.jpg"), identity(folder.file("pa.jpg"))));
  EXPECT_FALSE(files.keeps(folder.file("pa.jpg"), identity(folder.file("pa.jpg"))));  // its own source
  EXPECT_FALSE(files.keeps(folder.file("a.jpg"), identity(folder.file("other.jpg"))));
  files.written(folder.file("other.jpg"));
  EXPECT_TRUE(files.keeperFor(folder.file("a.jpg"))(identity(folder.file("other.jpg"))));
  // Once written over, a source's new file is the run's output: even its own source's next spelling keeps it.
  files.written(folder.file("a.jpg"));
  EXPECT_TRUE(files.keeps(folder.file("./a.jpg"), identity(folder.file("a.jpg"))));
}

}  // namespace
}  // namespace pixmoor::batch

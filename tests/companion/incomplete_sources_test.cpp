// pixmoor-batch and pictures whose data ends or breaks off early: with
// --prefix 0 none replaces its source, with a prefix each is written with
// its warning unless not a row of it decoded; the plan says so beforehand.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "batch/batch_test_support.h"
#include "image/encode.h"
#include "support/batch_program.h"

namespace pixmoor::testing {
namespace {

using batch::testing::folderNames;
using batch::testing::readPicture;
using batch::testing::writePicture;

class IncompleteSources : public BatchProgramTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(writePicture(path("photo.jpg"), 600, 2400, image::kJpegEncoder));
    ASSERT_TRUE(writePicture(path("shot.png"), 800, 600, image::kPngEncoder));
    const std::string jpeg = readBytes(path("photo.jpg"));
    const std::string png = readBytes(path("shot.png"));
    std::filesystem::remove(path("shot.png"));
    const std::size_t scan = jpeg.find("\xFF\xDA");
    const std::size_t idat = png.find("IDAT") - 4;
    files_ = {
        {"cut-at-2-percent.jpg", jpeg.substr(0, scan + 14 + (jpeg.size() - scan) / 50)},
        {"scan-begun.jpg", jpeg.substr(0, scan + 16)},
        {"half.png", png.substr(0, png.size() / 2)},
        {"data-begun.png", png.substr(0, idat + 8 + 12)},
    };
    for (const auto& [name, bytes] : files_) writeBytes(path(name), bytes);
  }
  std::vector<std::string> names() const {
    std::vector<std::string> all;
    for (const auto& file : files_) all.push_back(file.first);
    return all;
  }
  std::vector<std::pair<std::string, std::string>> files_;
};

std::vector<std::string> reasons(const std::string& out) {
  std::vector<std::string> found;
  for (const auto& object : jsonLinesOf(out)) {
    if (object["type"] == "picture") found.push_back(object["reason"].is_null() ? "" : object["reason"]);
  }
  return found;
}

TEST_F(IncompleteSources, NoneReplacesItsSourceWithoutAPrefix) {
  for (const char* plan : {"--dry-run=exact", ""}) {
    std::vector<std::string> arguments = {"--json", "--prefix", "0", "--size", "200x200"};
    if (*plan != '\0') arguments.push_back(plan);
    for (const std::string& name : names()) arguments.push_back(name);
    const ProgramRun r = run(arguments);
    EXPECT_EQ(r.status, 1) << plan;
    EXPECT_EQ(reasons(r.out), std::vector<std::string>(4, "incomplete")) << plan << r.out;
    for (const auto& [name, bytes] : files_)
      EXPECT_TRUE(readBytes(path(name)) == bytes) << name << " replaced";
  }
  EXPECT_EQ(run({"--quiet", "--prefix", "0", "--size", "200x200", "scan-begun.jpg"}).err,
            "scan-begun.jpg: incomplete picture (its data ended or broke off early)\n");
}

TEST_F(IncompleteSources, WithAPrefixOnlyPicturesWithRowsAreWritten) {
  std::vector<std::string> arguments = {"--json", "--prefix", "p_", "--size", "200x200"};
  for (const std::string& name : names()) arguments.push_back(name);
  arguments.insert(arguments.begin(), "--dry-run=exact");
  const ProgramRun plan = run(arguments);
  arguments.erase(arguments.begin());
  const ProgramRun r = run(arguments);
  EXPECT_EQ(r.status, 1);
  const std::vector<std::string> expected = {"", "incomplete", "", "incomplete"};
  EXPECT_EQ(reasons(plan.out), expected);
  EXPECT_EQ(reasons(r.out), expected);
  const auto objects = jsonLinesOf(r.out);
  EXPECT_EQ(objects[0]["warnings"], nlohmann::json::array({"truncated"}));
  EXPECT_EQ(objects[2]["warnings"], nlohmann::json::array({"truncated"}));
  EXPECT_TRUE(readPicture(path("p_cut-at-2-percent.jpg")));
  EXPECT_TRUE(readPicture(path("p_half.jpg")));
  EXPECT_FALSE(std::filesystem::exists(path("p_scan-begun.jpg")));
  EXPECT_FALSE(std::filesystem::exists(path("p_data-begun.jpg")));
}

}  // namespace
}  // namespace pixmoor::testing

// pixmoor-batch and pictures whose data ends or breaks off early: with
// --prefix 0 none replaces its source, with a prefix each is written with
// its warning unless not a row of it decoded (a GIF, read by the decode
// helper, as a JPEG or a PNG); the plan says so beforehand.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "batch/batch_test_support.h"
#include "encoders/encode.h"
#include "support/batch_program.h"

namespace pixmoor::testing {
namespace {

using batch::testing::folderNames;
using batch::testing::readPicture;
using batch::testing::writePicture;

// Where a GIF's first image data begins: after its screen descriptor and
// colour table, its extensions, the image descriptor, its own colour table
// and the LZW code size.
std::size_t gifImageData(const std::string& gif) {
  const auto tableBytes = [](unsigned char flags) { return (flags & 0x80) ? 3u << ((flags & 7) + 1) : 0u; };
  std::size_t at = 13 + tableBytes(static_cast<unsigned char>(gif[10]));
  while (at < gif.size() && gif[at] == 0x21) {  // an extension: its label, then sub-blocks
    at += 2;
    while (at < gif.size() && gif[at] != 0) at += 1 + static_cast<unsigned char>(gif[at]);
    ++at;
  }
  EXPECT_EQ(gif[at], 0x2C);
  at += 10;
  return at + tableBytes(static_cast<unsigned char>(gif[at - 1])) + 1;
}

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
    // A GIF goes through the decode helper.
    const std::string gif = readBytes(std::string(PIXMOOR_TEST_DATA) + "/gif/good/pil_hopper.gif");
    files_ = {
        {"cut-at-2-percent.jpg", jpeg.substr(0, scan + 14 + (jpeg.size() - scan) / 50)},
        {"scan-begun.jpg", jpeg.substr(0, scan + 16)},
        {"half.png", png.substr(0, png.size() / 2)},
        {"data-begun.png", png.substr(0, idat + 8 + 12)},
        {"gif-half.gif", gif.substr(0, gif.size() / 2)},
        {"gif-data-begun.gif", gif.substr(0, gifImageData(gif) + 1)},
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
    EXPECT_EQ(reasons(r.out), std::vector<std::string>(6, "incomplete")) << plan << r.out;
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
  const std::vector<std::string> expected = {"", "incomplete", "", "incomplete", "", "incomplete"};
  EXPECT_EQ(reasons(plan.out), expected);
  EXPECT_EQ(reasons(r.out), expected);
  const auto objects = jsonLinesOf(r.out);
  EXPECT_EQ(objects[0]["warnings"], nlohmann::json::array({"truncated"}));
  EXPECT_EQ(objects[2]["warnings"], nlohmann::json::array({"truncated"}));
  EXPECT_EQ(objects[4]["warnings"], nlohmann::json::array({"truncated"}));
  EXPECT_TRUE(readPicture(path("p_cut-at-2-percent.jpg")));
  EXPECT_TRUE(readPicture(path("p_half.jpg")));
  EXPECT_FALSE(std::filesystem::exists(path("p_scan-begun.jpg")));
  EXPECT_FALSE(std::filesystem::exists(path("p_data-begun.jpg")));
  EXPECT_TRUE(readPicture(path("p_gif-half.jpg")));
  EXPECT_FALSE(std::filesystem::exists(path("p_gif-data-begun.jpg")));
}

}  // namespace
}  // namespace pixmoor::testing

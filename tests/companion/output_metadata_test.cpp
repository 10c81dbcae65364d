// pixmoor-batch --metadata and --keep-dates, the outputs read back by
// exiftool: every tag of the source but those fitted to the output, no
// thumbnail, no GPS byte left with keep-no-gps, nothing with none; damaged
// and oversized blocks left out with their warning; the source's dates.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/batch_program.h"

namespace pixmoor::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const std::string kData = PIXMOOR_TEST_DATA "/exif/";
const std::vector<std::string> kExifGroups = {"IFD0", "ExifIFD", "GPS", "IFD1", "InteropIFD"};

// The EXIF tags exiftool finds in a file, as numbers where it has them
// ("IFD0:Orientation": 1), the groups of the block only.
Json exifTags(const std::string& path) {
  const std::string command = "exiftool -j -a -G1 -n " + shellQuoted(path);
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return nullptr;
  std::string listing;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) listing.append(buffer, n);
  if (::pclose(pipe) != 0) return nullptr;
  const Json all = Json::parse(listing).at(0);
  Json tags = Json::object();
  for (const auto& [key, value] : all.items()) {
    const std::string group = key.substr(0, key.find(':'));
    if (std::find(kExifGroups.begin(), kExifGroups.end(), group) != kExifGroups.end()) tags[key] = value;
  }
  return tags;
}

// What the source's tags become in an output of `width` x `height`.
Json fitted(Json tags, int width, int height, bool withGps) {
  for (auto it = tags.begin(); it != tags.end();) {
    const std::string key = it.key();
    const bool gone =
        key.rfind("IFD1:", 0) == 0 || key == "ExifIFD:SubjectArea" || (!withGps && key.rfind("GPS:", 0) == 0);
    it = gone ? tags.erase(it) : std::next(it);
  }
  tags["IFD0:Orientation"] = 1;
  tags["ExifIFD:ExifImageWidth"] = width;
  tags["ExifIFD:ExifImageHeight"] = height;
  return tags;
}

// The latitude's three rationals (48/1 51/1 747/25) in either byte order.
bool holdsTheLatitude(const std::string& bytes) {
  const std::string big("\0\0\0\x30\0\0\0\x01\0\0\0\x33\0\0\0\x01\0\0\x02\xEB\0\0\0\x19", 24);
  const std::string little("\x30\0\0\0\x01\0\0\0\x33\0\0\0\x01\0\0\0\xEB\x02\0\0\x19\0\0\0", 24);
  return bytes.find(big) != std::string::npos || bytes.find(little) != std::string::npos;
}

class OutputMetadata : public BatchProgramTest {
 protected:
  void SetUp() override {
    for (const char* name : {"phone.jpg", "phone.png", "phone.webp", "phone.avif", "phone.heic"})
      fs::copy_file(kData + name, path(name));
  }
  // One picture, relative mode to 32 on its long side, as --json reports it.
  Json runOne(const std::string& source, const std::string& format, const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {
        "--json", "--mode",   "rel",  "--landscape-width", "32", "--portrait-height",
        "32",     "--format", format, "--prefix",          "m_"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back(source);
    const ProgramRun r = run(arguments);
    EXPECT_EQ(r.status, 0) << r.err;
    return jsonLinesOf(r.out).at(0);
  }
};

TEST_F(OutputMetadata, KeptTagsReadBackFittedToTheOutput) {
  struct Row {
    const char* source;
    const char* format;
    const char* output;
    int width, height;  // the output, upright
  };
  const Row rows[] = {
      {"phone.jpg", "jpg", "m_phone.jpg", 24, 32},   // big-endian APP1 -> APP1, turned upright
      {"phone.png", "png", "m_phone.png", 32, 24},   // little-endian eXIf -> eXIf
      {"phone.png", "jpg", "m_phone.jpg", 32, 24},   // eXIf -> APP1
      {"phone.webp", "jpg", "m_phone.jpg", 24, 32},  // a WebP's EXIF chunk, its orientation applied
      {"phone.avif", "png", "m_phone.png", 24,
       32},  // an AVIF's Exif item (avifenc made irot of its orientation)
      {"phone.heic", "jpg", "m_phone.jpg", 32, 24},   // a HEIC's Exif item, its orientation not the picture's
      {"phone.jpg", "webp", "m_phone.webp", 24, 32},  // APP1 -> a WebP's EXIF chunk
      {"phone.png", "avif", "m_phone.avif", 32, 24},  // eXIf -> an AVIF's Exif item
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.source) + " -> " + row.format);
    const Json source = exifTags(kData + row.source);
    ASSERT_EQ(source["IFD0:Orientation"], 6);
    ASSERT_TRUE(source.contains("IFD1:ThumbnailLength") || std::string(row.source) != "phone.jpg");
    for (const char* choice : {"keep", "keep-no-gps", "none"}) {
      SCOPED_TRACE(choice);
      const Json report = runOne(row.source, row.format, {"--metadata", choice});
      EXPECT_EQ(report["output_width"], row.width);
      EXPECT_EQ(report["output_height"], row.height);
      const std::string kept = choice == std::string("none")   ? "none"
                               : choice == std::string("keep") ? "exif"
                                                               : "exif-without-gps";
      EXPECT_EQ(report["metadata"], kept);
      const Json expected =
          kept == "none" ? Json::object() : fitted(source, row.width, row.height, kept == "exif");
      EXPECT_EQ(exifTags(path(row.output)), expected);
      EXPECT_EQ(holdsTheLatitude(readBytes(path(row.output))), kept == "exif");
      fs::remove(path(row.output));
    }
  }
}

TEST_F(OutputMetadata, TheCorpusOrientationsComeOutUprightWithOrientationOne) {
  const std::string corpus = PIXMOOR_TEST_DATA "/jpeg/good/";
  for (const int orientation : {1, 2, 4, 5, 7, 8}) {  // the six of the corpus
    const std::string name = "exo_Landscape_" + std::to_string(orientation) + ".jpg";
    fs::copy_file(corpus + name, path(name), fs::copy_options::overwrite_existing);
    const Json report = runOne(name, "jpg", {"--metadata", "keep"});
    EXPECT_EQ(report["output_width"], 32) << name;  // every one is a landscape picture once upright
    EXPECT_EQ(exifTags(path("m_" + name))["IFD0:Orientation"], 1) << name;
  }
}

TEST_F(OutputMetadata, DamagedAndOversizedBlocksAreLeftOutWithAWarning) {
  // The TIFF header's 42 made 43: no reader may walk the block.
  std::string jpeg = readBytes(path("phone.jpg"));
  const std::size_t tiff = jpeg.find(std::string("Exif\0\0MM\0\x2A", 10));
  ASSERT_NE(tiff, std::string::npos);
  jpeg[tiff + 9] = 0x2B;
  writeBytes(path("broken.jpg"), jpeg);
  Json report = runOne("broken.jpg", "jpg", {"--metadata", "keep"});
  EXPECT_EQ(report["outcome"], "written");
  EXPECT_EQ(report["warnings"], Json::array({"exif-damaged"}));
  EXPECT_EQ(report["metadata"], "none");
  EXPECT_EQ(exifTags(path("m_broken.jpg")), Json::object());

  // 70,000 bytes of comment: an eXIf chunk holds them, a JPEG segment cannot.
  const std::string comment(70000, 'c');
  ASSERT_EQ(std::system(("exiftool -q -overwrite_original -UserComment=" + comment + " " +
                         shellQuoted(path("phone.png")))
                            .c_str()),
            0);
  report = runOne("phone.png", "jpg", {"--metadata", "keep"});
  EXPECT_EQ(report["warnings"], Json::array({"exif-too-large"}));
  EXPECT_EQ(exifTags(path("m_phone.jpg")), Json::object());
  report = runOne("phone.png", "png", {"--metadata", "keep"});
  EXPECT_EQ(report["warnings"], Json::array());
  EXPECT_EQ(exifTags(path("m_phone.png"))["ExifIFD:UserComment"], comment);
  // WebP and AVIF hold it too, and the plan knows it of every format.
  for (const char* format : {"jpg", "png", "webp", "avif"}) {
    SCOPED_TRACE(format);
    const Json written = runOne("phone.png", format, {"--metadata", "keep"});
    const Json planned = runOne("phone.png", format, {"--metadata", "keep", "--dry-run"});
    EXPECT_EQ(written["warnings"],
              std::string(format) == "jpg" ? Json::array({"exif-too-large"}) : Json::array());
    EXPECT_EQ(planned["warnings"], written["warnings"]);
    EXPECT_EQ(planned["metadata"], written["metadata"]);
  }

  // The plan says the same beforehand.
  const ProgramRun plan = run({"--dry-run", "--metadata", "keep-no-gps", "--size", "20x20", "--prefix", "p_",
                               "broken.jpg", "phone.jpg"});
  EXPECT_NE(
      plan.out.find("broken.jpg: 64x48 -> 20x20, p_broken.jpg (new), metadata: none, EXIF block damaged"),
      std::string::npos)
      << plan.out;
  EXPECT_NE(plan.out.find("phone.jpg: 48x64 -> 20x20, p_phone.jpg (new), metadata: EXIF without GPS\n"),
            std::string::npos)
      << plan.out;
}

// A little-endian block laid out by hand: up to four directories at fixed
// places, each a list of entries, and the latitude's rationals at 400.
struct Directory {
  std::vector<std::array<std::uint32_t, 4>> entries;  // tag, type, count, value
  std::uint32_t next = 0;
};
constexpr std::uint32_t kDirectoryAt[] = {8, 100, 200, 300};
constexpr std::uint32_t kLatitudeAt = 400;

std::string littleEndianBlock(const std::vector<Directory>& directories) {
  std::string b(kLatitudeAt + 24, '\0');
  const auto put = [&b](std::size_t at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> 8 * i);
  };
  b[0] = b[1] = 'I';
  put(2, 42, 2);
  put(4, kDirectoryAt[0], 4);
  for (std::size_t d = 0; d < directories.size(); ++d) {
    std::size_t at = kDirectoryAt[d];
    put(at, static_cast<std::uint32_t>(directories[d].entries.size()), 2);
    for (const auto& [tag, type, count, value] : directories[d].entries) {
      put(at + 2, tag, 2);
      put(at + 4, type, 2);
      put(at + 6, count, 4);
      put(at + 10, value, 4);
      at += 12;
    }
    put(at + 2, directories[d].next, 4);
  }
  const std::uint32_t latitude[6] = {48, 1, 51, 1, 747, 25};
  for (std::size_t i = 0; i < 6; ++i) put(kLatitudeAt + 4 * i, latitude[i], 4);
  return b;
}

// phone.jpg with its APP1 segment replaced by one holding `block`.
std::string jpegWithExif(std::string jpeg, const std::string& block) {
  const std::size_t mark = jpeg.find(std::string("Exif\0\0", 6));
  const std::size_t segment = mark - 4;
  const std::size_t length =
      static_cast<unsigned char>(jpeg[segment + 2]) << 8 | static_cast<unsigned char>(jpeg[segment + 3]);
  const std::size_t newLength = 2 + 6 + block.size();
  const std::string app1 = std::string("\xFF\xE1", 2) + static_cast<char>(newLength >> 8) +
                           static_cast<char>(newLength & 0xFF) + std::string("Exif\0\0", 6) + block;
  return jpeg.replace(segment, 2 + length, app1);
}

TEST_F(OutputMetadata, KeepNoGpsLeavesNoCoordinateWhereverTheBlockHidesIt) {
  constexpr std::uint32_t kPointer = 4, kRational = 5, kUndefined = 7, kByte = 1;
  const std::array<std::uint32_t, 4> latitude = {0x0002, kRational, 3, kLatitudeAt};
  const std::array<std::uint32_t, 4> version = {0x0000, kByte, 4, 0x0202};
  const auto to = [](std::uint16_t tag, int directory) {
    return std::array<std::uint32_t, 4>{tag, kPointer, 1, kDirectoryAt[directory]};
  };
  const std::uint16_t kExif = 0x8769, kGps = 0x8825, kInterop = 0xA005;
  struct Row {
    const char* name;
    std::vector<Directory> layout;
    bool cleaned;  // false: the block cannot be cleaned for certain and is left out
  };
  const Row rows[] = {
      {"GPS named by IFD0", {{{to(kGps, 1)}}, {{latitude}}}, true},
      {"GPS named by the Exif directory", {{{to(kExif, 1)}}, {{to(kGps, 2)}}, {{latitude}}}, true},
      {"GPS named by the Interop directory",
       {{{to(kExif, 1)}}, {{to(kInterop, 2)}}, {{to(kGps, 3)}}, {{latitude}}},
       true},
      {"a location inside a maker note", {{{to(kExif, 1)}}, {{{0x927C, kUndefined, 24, kLatitudeAt}}}}, true},
      {"two GPS directories",
       {{{to(kExif, 1), to(kGps, 2)}}, {{to(kGps, 3)}}, {{version}}, {{latitude}}},
       false},
      {"a GPS directory chaining another",
       {{{to(kGps, 1)}}, {{version}, kDirectoryAt[2]}, {{latitude}}},
       false},
      {"GPS named by the thumbnail directory",
       {{{{0x0112, 3, 1, 1}}, kDirectoryAt[1]}, {{to(kGps, 2)}}, {{latitude}}},
       false},
  };
  const std::string phone = readBytes(path("phone.jpg"));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string block = littleEndianBlock(row.layout);
    ASSERT_TRUE(holdsTheLatitude(block));
    writeBytes(path("hidden.jpg"), jpegWithExif(phone, block));
    for (const char* format : {"jpg", "png", "webp", "avif"}) {
      SCOPED_TRACE(format);
      const Json report = runOne("hidden.jpg", format, {"--metadata", "keep-no-gps"});
      EXPECT_EQ(report["outcome"], "written");
      EXPECT_EQ(report["metadata"], std::string(row.cleaned ? "exif-without-gps" : "none"));
      EXPECT_EQ(report["warnings"], row.cleaned ? Json::array() : Json::array({"exif-damaged"}));
      const std::string output = path(std::string("m_hidden.") + format);
      EXPECT_FALSE(holdsTheLatitude(readBytes(output)));
      const Json tags = exifTags(output);
      EXPECT_FALSE(tags.contains("GPS:GPSLatitude") || tags.contains("ExifIFD:MakerNoteUnknown")) << tags;
      fs::remove(output);
    }
  }
}

struct timespec modifiedOf(const std::string& path) {
  struct stat status {};
  ::stat(path.c_str(), &status);
  return status.st_mtim;
}
struct timespec accessedOf(const std::string& path) {
  struct stat status {};
  ::stat(path.c_str(), &status);
  return status.st_atim;
}
bool same(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

TEST_F(OutputMetadata, KeepDatesGivesEachOutputItsSourcesTimes) {
  const struct timespec times[2] = {{1012345678, 123456789}, {981234567, 987654321}};  // 2002, 2001
  struct Row {
    std::vector<std::string> arguments;
    const char* output;
  };
  const Row rows[] = {
      {{"--prefix", "d_"}, "d_phone.jpg"},
      {{"--prefix", "0"}, "phone.jpg"},
      {{"--prefix", "0", "--trash-originals"}, "phone.jpg"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.output + (" " + row.arguments.back()));
    ASSERT_EQ(::utimensat(AT_FDCWD, path("phone.jpg").c_str(), times, 0), 0);
    std::vector<std::string> arguments = {"--keep-dates", "--size", "20x20", "phone.jpg"};
    arguments.insert(arguments.begin(), row.arguments.begin(), row.arguments.end());
    ASSERT_EQ(run(arguments).status, 0);
    EXPECT_TRUE(same(modifiedOf(path(row.output)), times[1]));
    EXPECT_TRUE(same(accessedOf(path(row.output)), times[0]));
    ASSERT_TRUE(same(modifiedOf(path("phone.jpg")), times[1]));
  }
  // The original in the Trash kept its own dates too.
  EXPECT_TRUE(same(modifiedOf(dataHome() + "/Trash/files/phone.jpg"), times[1]));
  // Without the option an output is as new as its writing.
  ASSERT_EQ(run({"--prefix", "n_", "--size", "20x20", "phone.jpg"}).status, 0);
  EXPECT_GT(modifiedOf(path("n_phone.jpg")).tv_sec, times[1].tv_sec);
}

}  // namespace
}  // namespace pixmoor::testing

#include "image/temp_output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "encode_test_support.h"

namespace pixmoor::image {
namespace {

using testing::readBytes;
using testing::ScratchFolder;
using testing::writeBytes;
using Kind = TempOutput::Kind;

mode_t modeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class TempOutputTest : public ::testing::TestWithParam<Kind> {
 protected:
  ScratchFolder folder;
};

TEST_P(TempOutputTest, NothingAppearsUnderTheTargetNameBeforeCommit) {
  auto out = TempOutput::create(folder.file("a.png"), nullptr, GetParam());
  ASSERT_TRUE(out);
  const std::string big(200000, 'x');  // more than the buffer holds
  ASSERT_TRUE(out->write(big.data(), big.size()));
  ASSERT_TRUE(out->write("end", 3));
  EXPECT_EQ(out->bytesWritten(), 200003u);
  EXPECT_EQ(folder.names().count("a.png"), 0u);
  ASSERT_TRUE(out->commit());
  EXPECT_EQ(folder.names(), std::set<std::string>{"a.png"});
  const auto bytes = readBytes(folder.file("a.png"));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), big + "end");
  EXPECT_FALSE(out->commit());  // once only
}

TEST_P(TempOutputTest, DiscardLeavesNothingAndTheOldFileAsItWas) {
  writeBytes(folder.file("a.png"), {1, 2, 3});
  {
    auto out = TempOutput::create(folder.file("a.png"), nullptr, GetParam());
    ASSERT_TRUE(out);
    out->write("new content", 11);
  }  // dropped without commit
  EXPECT_EQ(folder.names(), std::set<std::string>{"a.png"});
  EXPECT_EQ(readBytes(folder.file("a.png")), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST_P(TempOutputTest, NewFilesTakeTheUmaskReplacedFilesKeepTheirBits) {
  const mode_t old = umask(027);
  auto out = TempOutput::create(folder.file("new.png"), nullptr, GetParam());
  ASSERT_TRUE(out);
  out->write("n", 1);
  EXPECT_TRUE(out->commit());
  umask(old);
  EXPECT_EQ(modeOf(folder.file("new.png")), 0640u);

  writeBytes(folder.file("private.png"), {1});
  ASSERT_EQ(chmod(folder.file("private.png").c_str(), 0600), 0);
  out = TempOutput::create(folder.file("private.png"), nullptr, GetParam());
  ASSERT_TRUE(out);
  out->write("p", 1);
  EXPECT_TRUE(out->commit());
  EXPECT_EQ(modeOf(folder.file("private.png")), 0600u);
}

TEST_P(TempOutputTest, EmptyPathAndFolderNames) {
  TempOutput::OpenError error = TempOutput::OpenError::None;
  EXPECT_FALSE(TempOutput::create("", &error, GetParam()));
  EXPECT_EQ(error, TempOutput::OpenError::EmptyPath);
  EXPECT_FALSE(TempOutput::create(folder.path() + "/", &error, GetParam()));
  EXPECT_EQ(error, TempOutput::OpenError::CannotCreate);
  EXPECT_FALSE(TempOutput::create(folder.file("no/such/a.png"), &error, GetParam()));
  EXPECT_EQ(error, TempOutput::OpenError::CannotCreate);
  EXPECT_TRUE(folder.names().empty());
}

TEST_P(TempOutputTest, AWriteProtectedFileIsNotReplaced) {
  writeBytes(folder.file("locked.png"), {7});
  ASSERT_EQ(chmod(folder.file("locked.png").c_str(), 0444), 0);
  const Kind kind = GetParam();
  const std::string target = folder.file("locked.png");
  auto attempt = [&] {
    TempOutput::OpenError error = TempOutput::OpenError::None;
    const bool refused = !TempOutput::create(target, &error, kind);
    return refused && error == TempOutput::OpenError::CannotCreate ? 0 : 1;
  };
  if (geteuid() != 0) {
    EXPECT_EQ(attempt(), 0);
  } else {
    // The superuser may write any file: try as an unprivileged user.
    ASSERT_EQ(chmod(folder.path().c_str(), 0777), 0);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
      _exit(attempt());
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  EXPECT_EQ(readBytes(target), std::vector<std::uint8_t>{7});
  EXPECT_EQ(folder.names(), std::set<std::string>{"locked.png"});
}

INSTANTIATE_TEST_SUITE_P(Kinds, TempOutputTest, ::testing::Values(Kind::Auto, Kind::Named));

TEST(TempOutputNamed, TheTemporaryIsHiddenBesideTheTarget) {
  ScratchFolder folder;
  auto out = TempOutput::create(folder.file("photo.jpg"), nullptr, Kind::Named);
  ASSERT_TRUE(out);
  const std::string name = out->temporaryPath().substr(folder.path().size() + 1);
  EXPECT_EQ(name.rfind(".photo.jpg.pixmoor-", 0), 0u) << name;
  EXPECT_EQ(name.size(), std::string(".photo.jpg.pixmoor-").size() + 6);
  EXPECT_EQ(folder.names(), std::set<std::string>{name});
  out.reset();
  EXPECT_TRUE(folder.names().empty());
}

TEST(TempOutputNamed, LongNamesAreShortenedAtACharacterBoundary) {
  ScratchFolder folder;
  // 2-byte characters up to 254 bytes: a legal name without room to spare.
  std::string target;
  while (target.size() + 2 <= 250) target += "\xC3\xA9";
  target += ".jpg";
  auto out = TempOutput::create(folder.file(target), nullptr, Kind::Named);
  ASSERT_TRUE(out);
  const std::string name = out->temporaryPath().substr(folder.path().size() + 1);
  EXPECT_LE(name.size(), 255u);
  const auto cut = name.find(".pixmoor-");
  ASSERT_NE(cut, std::string::npos);
  EXPECT_EQ((cut - 1) % 2, 0u);  // whole characters only
  out->write("x", 1);
  EXPECT_TRUE(out->commit());
  EXPECT_EQ(folder.names(), std::set<std::string>{target});
}

TEST(TempOutputNamed, ManyAtOnceNeverCollide) {
  ScratchFolder folder;
  std::vector<std::unique_ptr<TempOutput>> outs;
  for (int i = 0; i < 50; ++i) {
    outs.push_back(TempOutput::create(folder.file("same.png"), nullptr, Kind::Named));
    ASSERT_TRUE(outs.back());
  }
  EXPECT_EQ(folder.names().size(), 50u);
  outs.clear();
  EXPECT_TRUE(folder.names().empty());
}

}  // namespace
}  // namespace pixmoor::image

// The names the file managers hand the action, URLs among them.
#include "file_actions/action_arguments.h"

#include <gtest/gtest.h>

namespace pixmoor::file_actions {
namespace {

struct ArgumentRow {
  const char* argument;
  std::string expected;
};

class ChosenPath : public ::testing::TestWithParam<ArgumentRow> {};

TEST_P(ChosenPath, NamesTheFilesExactBytes) {
  EXPECT_EQ(chosenPath(GetParam().argument, "/here"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ChosenPath,
    ::testing::Values(ArgumentRow{"/p/a b.jpg", "/p/a b.jpg"}, ArgumentRow{"a b.jpg", "/here/a b.jpg"},
                      ArgumentRow{"caf\xE9.jpg", "/here/caf\xE9.jpg"},
                      ArgumentRow{"file:///p/caf%E9%20x.jpg", "/p/caf\xE9 x.jpg"},
                      ArgumentRow{"file:///p/%e9%2F%25.jpg", "/p/\xE9/%.jpg"},
                      ArgumentRow{"file://localhost/p/a.jpg", "/p/a.jpg"},
                      ArgumentRow{"file:/p/a%23b.jpg#frag", "/p/a#b.jpg"},
                      ArgumentRow{"file:///p/a.jpg?x=1", "/p/a.jpg"},
                      ArgumentRow{"file:///p/100%.jpg", "/p/100%.jpg"},
                      ArgumentRow{"file:///p/%zz%4", "/p/%zz%4"},
                      // Not here: left as it is, so that it names nothing.
                      ArgumentRow{"file://elsewhere/p/a.jpg", "/here/file://elsewhere/p/a.jpg"},
                      ArgumentRow{"smb://server/p/a.jpg", "/here/smb://server/p/a.jpg"}));

}  // namespace
}  // namespace pixmoor::file_actions

// Tests of opening, and of the checks that turn failed reads and writes into messages.
#include "common/stream.h"

#include <gtest/gtest.h>

#include "scratch.h"

namespace trov {
namespace {

using testing::Scratch;

TEST(Stream, FolderIsNeverOpenedAsAFile) {
  Scratch scratch;
  std::filesystem::create_directory(scratch.path("garnet.exp"));
  for (const char* mode : {"rb", "r", "w"}) EXPECT_EQ(open_file(scratch.path("garnet.exp").c_str(), mode), nullptr) << mode;
  EXPECT_EQ(open_file(scratch.path("missing.exp").c_str(), "rb"), nullptr);
}

#ifdef __linux__
TEST(Stream, OutputCutShortByAFullDiskIsAnError) {
  Stream full(open_file("/dev/full", "w"), "garnet.a01");
  ASSERT_NE(full.get(), nullptr);
  full.write("x\n", 2);  // buffered: the failure only shows when flushed
  EXPECT_EQ(testing::fatal_message([&] { full.close_output(); }), "Error writing garnet.a01");
}
#endif

}  // namespace
}  // namespace trov

#include "platform/core/file_io.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "tests/support/temp_dir.h"

namespace platform {
namespace {

// A socket of packets gives one packet per read: short counts before the end, as FUSE and network
// file systems give them. Only a read of nothing is the end.
TEST(FileIoTest, ReadToEndGoesOnAfterShortReads) {
  int ends[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
  const UniqueFd reading(ends[0]);
  UniqueFd writing(ends[1]);
  for (const std::string part : {"[Info]\n", "Status=Finished\n"}) {
    ASSERT_EQ(::write(writing.get(), part.data(), part.size()), std::ssize(part));
  }
  writing.reset();
  std::string text;
  EXPECT_EQ(ReadToEnd(reading.get(), &text), 0);
  EXPECT_EQ(text, "[Info]\nStatus=Finished\n");
}

// A position past 4 GiB, which neither a signed nor an unsigned 32-bit number holds: a sparse file
// costs no disk space.
TEST(FileIoTest, PositionsBeyondThirtyTwoBits) {
  const testing_support::TempDir dir;
  constexpr int64_t kOffset = (int64_t{1} << 32) + 1234;
  int error = 0;
  const File file = File::OpenReadWrite(dir.Path("big"), &error);
  const IoResult written = file.WriteAt(std::as_bytes(std::span("four", 4)), kOffset);
  if (written.error == EFBIG) GTEST_SKIP() << "the file system refuses large files";
  ASSERT_EQ(written.error, 0) << ErrorText(written.error);
  EXPECT_EQ(FileLength(dir.Path("big"), &error), kOffset + 4);
  std::string back(4, '\0');
  EXPECT_EQ(file.ReadAt(std::as_writable_bytes(std::span(back)), kOffset).done, 4u);
  EXPECT_EQ(back, "four");
}

}  // namespace
}  // namespace platform

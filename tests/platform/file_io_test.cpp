#include "platform/core/file_io.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "tests/support/loop_device.h"
#include "tests/support/temp_dir.h"

namespace platform {
namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

std::span<const std::byte> Bytes(const char* text) {
  return std::as_bytes(std::span(text, std::strlen(text)));
}

TEST(FileIoTest, OpeningNeverCreatesASourceNorTruncatesATarget) {
  TempDir dir;
  int err = 0;
  File missing = File::OpenRead(dir.Path("missing"), &err);
  EXPECT_FALSE(missing.is_open());
  EXPECT_EQ(err, ENOENT);
  struct stat st {};
  EXPECT_NE(::stat(dir.Path("missing").c_str(), &st), 0) << "a read-only open created the file";

  WriteFileBytes(dir.Path("kept"), {'a', 'b', 'c'});
  File kept = File::OpenReadWrite(dir.Path("kept"), &err);
  ASSERT_TRUE(kept.is_open());
  EXPECT_EQ(kept.Length(&err), 3);
  EXPECT_EQ(kept.Close(), 0);
  EXPECT_EQ(ReadFileBytes(dir.Path("kept")), (std::vector<unsigned char>{'a', 'b', 'c'}));

  File created = File::OpenReadWrite(dir.Path("new"), &err);
  ASSERT_TRUE(created.is_open());
  EXPECT_EQ(created.Length(&err), 0);
}

TEST(FileIoTest, ReadStopsShortAtTheEndWithoutAnError) {
  TempDir dir;
  WriteFileBytes(dir.Path("f"), {1, 2, 3, 4, 5});
  int err = 0;
  File f = File::OpenRead(dir.Path("f"), &err);
  ASSERT_TRUE(f.is_open());
  std::byte buf[8]{};
  const IoResult r = f.ReadAt(buf, 3);
  EXPECT_EQ(r.done, 2u);
  EXPECT_EQ(r.error, 0);
  EXPECT_EQ(buf[0], std::byte{4});
  EXPECT_EQ(buf[1], std::byte{5});
  EXPECT_EQ(f.ReadAt(buf, 5).done, 0u);
}

// A pipe delivers what was written so far: short counts before the end, as FUSE and network file
// systems give them. Only a read of nothing is the end.
TEST(FileIoTest, ReadToEndGoesOnAfterShortReads) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  UniqueFd read_end(ends[0]);
  UniqueFd write_end(ends[1]);
  ASSERT_EQ(::write(write_end.get(), "[Info]\n", 7), 7);
  std::thread writer([&] {
    // Once the first part has been read, that read came back short.
    int unread = 1;
    while (::ioctl(read_end.get(), FIONREAD, &unread) == 0 && unread > 0) {
      std::this_thread::yield();
    }
    if (::write(write_end.get(), "Status=Finished\n", 16) != 16) ADD_FAILURE() << "write";
    write_end.reset();
  });
  std::string text;
  EXPECT_EQ(ReadToEnd(read_end.get(), &text), 0);
  writer.join();
  EXPECT_EQ(text, "[Info]\nStatus=Finished\n");
}

// Positions past 2 GiB and 4 GiB: a sparse file costs no disk space.
TEST(FileIoTest, PositionsBeyondThirtyTwoBits) {
  TempDir dir;
  int err = 0;
  File f = File::OpenReadWrite(dir.Path("big"), &err);
  ASSERT_TRUE(f.is_open());
  constexpr int64_t kPastTwoGiB = (int64_t{1} << 31) + 7;
  constexpr int64_t kPastFourGiB = (int64_t{1} << 32) + 1234;
  IoResult w = f.WriteAt(Bytes("two"), kPastTwoGiB);
  if (w.error == EFBIG || w.error == ENOSPC) GTEST_SKIP() << "the file system refuses large files";
  ASSERT_EQ(w.error, 0);
  ASSERT_EQ(f.WriteAt(Bytes("four"), kPastFourGiB).error, 0);
  EXPECT_EQ(f.Length(&err), kPastFourGiB + 4);
  EXPECT_EQ(FileLength(dir.Path("big"), &err), kPastFourGiB + 4);

  char buf[5]{};
  ASSERT_EQ(f.ReadAt(std::as_writable_bytes(std::span(buf, 4)), kPastFourGiB).done, 4u);
  EXPECT_STREQ(buf, "four");
  ASSERT_EQ(f.ReadAt(std::as_writable_bytes(std::span(buf, 3)), kPastTwoGiB).done, 3u);
  EXPECT_EQ(std::string(buf, 3), "two");
}

TEST(FileIoTest, WriteOnAFullDeviceReportsNoSpace) {
  int err = 0;
  File full = File::OpenReadWrite("/dev/full", &err);
  if (!full.is_open()) GTEST_SKIP() << "/dev/full is not available: " << ErrorText(err);
  const IoResult r = full.WriteAt(Bytes("data"), 0);
  EXPECT_EQ(r.error, ENOSPC);
  EXPECT_EQ(r.done, 0u);
}

// A device has no file size of its own; its length is the device's size.
TEST(FileIoTest, LengthOfABlockDeviceIsItsSize) {
  TempDir dir;
  constexpr size_t kBytes = 3 << 20;
  WriteFileBytes(dir.Path("image"), testing_support::PatternBytes(kBytes));
  testing_support::LoopDevice loop(dir.Path("image"));
  if (loop.device().empty()) GTEST_SKIP() << "no loop device here: " << loop.why();
  int err = 0;
  EXPECT_EQ(FileLength(loop.device(), &err), static_cast<int64_t>(kBytes)) << ErrorText(err);
  File device = File::OpenRead(loop.device(), &err);
  ASSERT_TRUE(device.is_open()) << ErrorText(err);
  EXPECT_EQ(device.Length(&err), static_cast<int64_t>(kBytes)) << ErrorText(err);
}

TEST(FileIoTest, LengthOfAMissingFileIsAnError) {
  TempDir dir;
  int err = 0;
  EXPECT_EQ(FileLength(dir.Path("none"), &err), -1);
  EXPECT_EQ(err, ENOENT);
}

}  // namespace
}  // namespace platform

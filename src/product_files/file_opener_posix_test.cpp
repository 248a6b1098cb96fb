#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "product_files/file_opener.h"
#include "testing/test_support.h"

namespace sealprobe {
namespace {

TEST(PosixFileOpenerTest, OnlyRegularFilesCountAsPresent) {
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(WriteFileBytes(dir / "regular.dll", "MZ"));
  // Names are bytes: one that is not valid UTF-8 opens as given.
  ASSERT_TRUE(WriteFileBytes(dir / "caf\xe9-\xff.dll", "MZ"));
  ASSERT_EQ(
      ::symlink((dir / "regular.dll").c_str(), (dir / "link.dll").c_str()), 0);
  ASSERT_EQ(
      ::symlink((dir / "nowhere").c_str(), (dir / "dangling.dll").c_str()), 0);
  ASSERT_EQ(::mkdir((dir / "folder.dll").c_str(), 0755), 0);
  // A FIFO nobody writes to would block a plain open() forever.
  ASSERT_EQ(::mkfifo((dir / "fifo.dll").c_str(), 0644), 0);
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string sock_path = dir / "socket.dll";
  ASSERT_LT(sock_path.size(), sizeof(address.sun_path));
  std::memcpy(address.sun_path, sock_path.c_str(), sock_path.size() + 1);
  ASSERT_EQ(
      ::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);

  const struct {
    std::string path;
    bool present;
  } kCases[] = {
      {dir / "regular.dll", true},   {dir / "caf\xe9-\xff.dll", true},
      {dir / "link.dll", true},      {dir / "missing.dll", false},
      {dir / "dangling.dll", false}, {dir / "folder.dll", false},
      {dir / "fifo.dll", false},     {dir / "socket.dll", false},
      {"/dev/null", false},          {"", false},
  };
  const std::unique_ptr<FileOpener> opener = MakePlatformFileOpener();
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(opener->OpenForReading(c.path) != nullptr, c.present);
  }
  ::close(sock);
}

TEST(PosixFileOpenerTest, UnreadableFileCountsAsMissing) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(WriteFileBytes(dir / "locked.dll", "MZ"));
  ASSERT_EQ(::chmod((dir / "locked.dll").c_str(), 0), 0);
  EXPECT_EQ(MakePlatformFileOpener()->OpenForReading(dir / "locked.dll"),
            nullptr);
}

TEST(PosixFileOpenerTest, ProbeHoldsOneDescriptorUntilDestroyed) {
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(WriteFileBytes(dir / "a.dll", "MZ"));
  const std::unique_ptr<FileOpener> opener = MakePlatformFileOpener();
  // The lowest free descriptor shows whether a probe leaked or closed one.
  const int before = ::dup(0);
  ASSERT_GE(before, 0);
  ::close(before);
  {
    auto probe = opener->OpenForReading(dir / "a.dll");
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(opener->OpenForReading(dir / "folder-that-is-not-there/a.dll"),
              nullptr);
  }
  EXPECT_EQ(opener->OpenForReading(dir / "missing"), nullptr);
  const int after = ::dup(0);
  ::close(after);
  EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace sealprobe

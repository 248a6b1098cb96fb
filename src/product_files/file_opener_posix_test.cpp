#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "product_files/file_opener.h"

namespace sealprobe {
namespace {

// A fresh folder under the system's temporary folder, removed at the end.
class TempFolder {
 public:
  TempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base && *base ? base : "/tmp") + "/sealprobe-opener-XXXXXX";
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempFolder() {
    if (!path_.empty()) {
      const std::string command = "rm -rf '" + path_ + "'";
      if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "could not remove " << path_;
      }
    }
  }
  std::string operator/(const std::string& name) const {
    return path_ + "/" + name;
  }
  bool ok() const { return !path_.empty(); }

 private:
  std::string path_;
};

void WriteFile(const std::string& path) {
  std::ofstream(path, std::ios::binary) << "MZ";
}

TEST(PosixFileOpenerTest, OnlyRegularFilesCountAsPresent) {
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  WriteFile(dir / "regular.dll");
  // Names are bytes: one that is not valid UTF-8 opens as given.
  WriteFile(dir / "caf\xe9-\xff.dll");
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
  WriteFile(dir / "locked.dll");
  ASSERT_EQ(::chmod((dir / "locked.dll").c_str(), 0), 0);
  EXPECT_EQ(MakePlatformFileOpener()->OpenForReading(dir / "locked.dll"),
            nullptr);
}

TEST(PosixFileOpenerTest, ProbeHoldsOneDescriptorUntilDestroyed) {
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  WriteFile(dir / "a.dll");
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

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "product_files/file_opener.h"
#include "testing/test_support.h"

namespace sealprobe {
namespace {

// Owns a handle another party holds on a file.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (ok()) ::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

Handle Open(const std::wstring& path, DWORD access, DWORD share) {
  return Handle(::CreateFileW(path.c_str(), access, share, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

class Win32FileOpenerTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.ok()); }

  TempFolder dir_;
  std::unique_ptr<FileOpener> opener_ = MakePlatformFileOpener();
};

TEST_F(Win32FileOpenerTest, OnlyExistingRegularFilesCountAsPresent) {
  ASSERT_TRUE(WriteFileBytes(dir_ / L"regular.dll", "MZ"));
  // Names are UTF-16 all the way to the file system.
  ASSERT_TRUE(WriteFileBytes(dir_ / L"Pr\u00fcfung-\u6587\u4ef6.dll", "MZ"));
  ASSERT_TRUE(::CreateDirectoryW((dir_ / L"folder.dll").c_str(), nullptr));

  const struct {
    const wchar_t* name;
    bool present;
  } kCases[] = {
      {L"regular.dll", true},
      {L"Pr\u00fcfung-\u6587\u4ef6.dll", true},
      {L"folder.dll", false},
      {L"nowhere.dll", false},
      {L"nowhere\\regular.dll", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "case #" << (&c - kCases));
    EXPECT_EQ(opener_->OpenForReading(dir_ / c.name) != nullptr, c.present);
  }
}

TEST_F(Win32FileOpenerTest, OpensBesideOtherHandlesUnlessTheyDenyReaders) {
  const std::wstring path = dir_ / L"busy.dll";
  ASSERT_TRUE(WriteFileBytes(path, "MZ"));
  const struct {
    const char* held_as;
    DWORD access;
    DWORD share;
    bool present;
  } kCases[] = {
      // An installer still writing the file, letting others in.
      {"writer sharing read and write", GENERIC_WRITE,
       FILE_SHARE_READ | FILE_SHARE_WRITE, true},
      {"writer sharing read", GENERIC_WRITE, FILE_SHARE_READ, true},
      {"reader sharing read", GENERIC_READ, FILE_SHARE_READ, true},
      // Locked against readers: as good as missing.
      {"exclusive", GENERIC_READ | GENERIC_WRITE, 0, false},
      {"reader sharing write only", GENERIC_READ, FILE_SHARE_WRITE, false},
      // The probe's handle keeps the file from being deleted, so it cannot
      // open beside a handle that may delete it.
      {"deleter sharing everything", DELETE,
       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.held_as);
    const Handle other = Open(path, c.access, c.share);
    ASSERT_TRUE(other.ok());
    EXPECT_EQ(opener_->OpenForReading(path) != nullptr, c.present);
  }
}

TEST_F(Win32FileOpenerTest, HeldFileCannotBeDeletedOrRenamedButCanBeWritten) {
  const std::wstring path = dir_ / L"held.dll";
  const std::wstring renamed = dir_ / L"renamed.dll";
  ASSERT_TRUE(WriteFileBytes(path, "MZ"));
  {
    const std::unique_ptr<OpenFile> held = opener_->OpenForReading(path);
    ASSERT_NE(held, nullptr);

    EXPECT_FALSE(::DeleteFileW(path.c_str()));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(::MoveFileW(path.c_str(), renamed.c_str()));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(
        Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE).ok());
    EXPECT_TRUE(
        Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE).ok());
  }
  // Released with the probe: the file can go now.
  EXPECT_TRUE(::DeleteFileW(path.c_str()));
}

}  // namespace
}  // namespace sealprobe

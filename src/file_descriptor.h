// POSIX file descriptors: one owner for every descriptor the POSIX build
// opens, and the one way it opens a file to read.
#ifndef SEALPROBE_FILE_DESCRIPTOR_H_
#define SEALPROBE_FILE_DESCRIPTOR_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sealprobe {

// Owns a file descriptor and closes it when destroyed. Move-only; one that
// was moved from or made empty owns nothing and holds -1.
class FileDescriptor {
 public:
  FileDescriptor() noexcept = default;
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
  }
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  // Never throws; a failed close() is ignored (the descriptor is gone
  // either way).
  ~FileDescriptor();

  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// A regular file open for reading, and its size when it was opened.
struct RegularFile {
  FileDescriptor fd;
  uint64_t size = 0;
};

// Opens `path` (bytes, passed to open() as given) read-only and close-on-exec,
// without blocking on a FIFO or a device and without making a terminal the
// controlling one. nullopt unless it opens and is a regular file: a
// directory, FIFO, device or socket under the name counts as missing. Then
// `error`, when given, receives why: errno, or 0 for a file that opened but
// is not a regular file.
std::optional<RegularFile> OpenRegularFile(const std::string& path,
                                           int* error = nullptr);
// The same for `name` relative to the open folder `folder` (a descriptor
// of one, as OpenFolder gives).
std::optional<RegularFile> OpenRegularFileAt(const FileDescriptor& folder,
                                             const std::string& name,
                                             int* error = nullptr);

// Writes all `size` bytes at `data` to `fd`, going on after a short or
// interrupted write; false when a write fails.
bool WriteAll(int fd, const void* data, size_t size);

// Opens the folder `path` to read the files in it by name, whatever is
// renamed or swapped in at `path` later; an invalid descriptor, and errno
// in `error` when given, when it is no folder that opens.
FileDescriptor OpenFolder(const std::string& path, int* error = nullptr);

// The names in the folder open as `folder`, "." and ".." left out, in the
// order the system lists them; nullopt, with errno in `error` when given,
// when it cannot be listed, and with E2BIG when it holds more than
// `max_names`.
std::optional<std::vector<std::string>> FolderNames(
    const FileDescriptor& folder, size_t max_names, int* error = nullptr);

// A small file read whole, or why not.
struct WholeFile {
  enum class Fault {
    kNone,
    kOpen,        // it does not open: `error` is errno
    kNotRegular,  // it is a folder, FIFO, device or socket
    kTooLarge,    // over the bytes allowed
    kRead,        // a read fails: `error` is errno
  };
  std::vector<uint8_t> bytes;  // when ok()
  Fault fault = Fault::kNone;
  int error = 0;
  bool ok() const { return fault == Fault::kNone; }
};

// The bytes of the regular file at `path`, opened as OpenRegularFile
// opens it, when it holds at most `max_bytes`; read to its end, so a file
// that grows while read is over the cap rather than cut short.
WholeFile ReadWholeFile(const std::string& path, size_t max_bytes);
WholeFile ReadWholeFileAt(const FileDescriptor& folder, const std::string& name,
                          size_t max_bytes);

// The `size` bytes at `offset` of the regular file `name` in `folder`;
// nullopt when it does not open or holds fewer.
std::optional<std::vector<uint8_t>> ReadFileRangeAt(
    const FileDescriptor& folder, const std::string& name, uint64_t offset,
    size_t size);

}  // namespace sealprobe

#endif  // SEALPROBE_FILE_DESCRIPTOR_H_

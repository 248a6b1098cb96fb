#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "authenticode/file_byte_source.h"

namespace sealprobe {
namespace {

// The size of the pieces Stream hands out.
constexpr size_t kBlockSize = size_t{64} * 1024;

// Blocks of the source's buffer: while the hash takes one, the others are
// read ahead.
constexpr size_t kBlocks = 6;

// How long a reader thread with no room waits before it looks again
// (BlockReader::ReadAhead): with the system's timer slack, about the time the
// hash takes for two or three blocks.
constexpr std::chrono::microseconds kNap{50};

// Memory pages are at least this large, and the processor fetches ahead
// within one only.
constexpr size_t kPageSize = 4096;

// Streams at least this long are read ahead on a thread, processors
// allowing. Shorter ones, all of nearly every file, are read in line:
// starting and joining a thread costs about what overlapping their copy
// would save.
constexpr uint64_t kReadAheadFrom = uint64_t{4} * 1024 * 1024;

// The threads of the process busy with a long stream: hashing it, or
// reading it ahead. A reader pays only on a processor that would otherwise
// be idle: where every processor hashes already (sealprobe-explain on
// several files at once), it would take turns with them, and handing over
// its blocks costs more than the copies it saves.
std::atomic<unsigned> busy_threads{0};

// True when `busy` threads leave no processor idle.
bool NoneIdle(unsigned busy) {
  // Asked once: the C library reads a file for it.
  static const unsigned processors =
      std::max(1u, std::thread::hardware_concurrency());
  return busy >= processors;
}

// Anonymous memory of its own, returned to the system when it goes.
class MappedBuffer {
 public:
  explicit MappedBuffer(size_t size) : size_(size) {
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    data_ = p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
  }
  MappedBuffer(const MappedBuffer&) = delete;
  MappedBuffer& operator=(const MappedBuffer&) = delete;
  ~MappedBuffer() {
    if (data_ != nullptr) ::munmap(data_, size_);
  }
  uint8_t* data() const { return data_; }

 private:
  size_t size_;
  uint8_t* data_ = nullptr;
};

// Counts the calling thread as busy for as long as it lives.
class BusyThread {
 public:
  BusyThread() { busy_threads.fetch_add(1, std::memory_order_relaxed); }
  BusyThread(const BusyThread&) = delete;
  BusyThread& operator=(const BusyThread&) = delete;
  ~BusyThread() { busy_threads.fetch_sub(1, std::memory_order_relaxed); }
};

// Counts one more busy thread if a processor is idle. False, counting
// nothing, when none is.
bool TakeIdleProcessor() {
  unsigned busy = busy_threads.load(std::memory_order_relaxed);
  do {
    if (NoneIdle(busy)) return false;
  } while (!busy_threads.compare_exchange_weak(busy, busy + 1,
                                               std::memory_order_relaxed));
  return true;
}

// Reads the `length` bytes at `offset` of `fd` into `out`. False when a read
// fails or the file ends before them.
bool ReadFully(int fd, uint64_t offset, uint8_t* out, size_t length) {
  while (length != 0) {
    if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
      return false;
    }
    const ssize_t got = ::pread(fd, out, length, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    // Zero means the file shrank under us: the bytes promised are gone.
    if (got <= 0) return false;
    out += got;
    offset += static_cast<uint64_t>(got);
    length -= static_cast<size_t>(got);
  }
  return true;
}

// The blocks of a range, read into the kBlocks blocks of a buffer in turn
// and handed on in order. Copying a block out of the page cache takes over a
// third of the time hashing it does: done in line, the hash waits for every
// copy. Once started, a thread of its own reads blocks ahead while the
// caller's thread hashes the ones already read. Each block is read once, by
// whichever thread comes to it first: when the reader has fallen behind (not
// started, or the machine is busy), the caller reads the next block itself
// rather than wait. No block is read into before the caller is done with
// the one it replaces, and the reader stops at the first read that fails.
// However the stream ends, the destructor stops the reader and waits for it.
class BlockReader {
 public:
  // Over the `length` bytes at `offset` of `fd`, read into `buffer`
  // (kBlocks * kBlockSize bytes), all of which outlive this object.
  BlockReader(int fd, uint64_t offset, uint64_t length, uint8_t* buffer)
      : fd_(fd),
        offset_(offset),
        length_(length),
        blocks_((length + kBlockSize - 1) / kBlockSize),
        buffer_(buffer) {}
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;
  ~BlockReader() {
    if (!reader_.joinable()) return;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    stopping_.notify_one();
    reader_.join();
  }

  // Starts reading ahead on an idle processor. When there is none, or no
  // thread can be started, Feed reads every block itself.
  void Start() {
    if (!TakeIdleProcessor()) return;
    try {
      reader_ = std::thread(&BlockReader::Read, this);
    } catch (const std::exception&) {
      busy_threads.fetch_sub(1, std::memory_order_relaxed);
    }
  }

  // Hands every block to `sink` in order, on the calling thread, as Stream
  // does.
  bool Feed(const ChunkSink& sink) {
    for (uint64_t block = 0; block < blocks_; ++block) {
      bool ours = false;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ours = next_ == block;
        if (ours) {
          ++next_;
        } else {
          ready_.wait(lock, [&] { return read_ > block || failed_; });
          if (read_ <= block) return false;
        }
      }
      if (ours) {
        if (!ReadBlock(block)) return false;
      } else {
        TouchPages(block);
      }
      if (!sink(At(block), SizeOf(block))) return false;
      const std::lock_guard<std::mutex> lock(mutex_);
      done_ = block + 1;
    }
    return true;
  }

 private:
  uint8_t* At(uint64_t block) const {
    return buffer_ + (block % kBlocks) * kBlockSize;
  }
  size_t SizeOf(uint64_t block) const {
    return static_cast<size_t>(
        std::min<uint64_t>(kBlockSize, length_ - block * kBlockSize));
  }
  bool ReadBlock(uint64_t block) const {
    return ReadFully(fd_, offset_ + block * kBlockSize, At(block),
                     SizeOf(block));
  }

  // Reads a byte of each page of a block the reader thread wrote. The
  // processor fetches ahead within a page only, so the hash would wait at
  // every page for its first bytes to come from the other core; asked for
  // all at once, they arrive together.
  void TouchPages(uint64_t block) const {
    const volatile uint8_t* data = At(block);
    for (size_t at = 0; at < SizeOf(block); at += kPageSize) {
      static_cast<void>(data[at]);
    }
  }

  // The reader thread, counted busy by Start.
  void Read() {
    ReadAhead();
    busy_threads.fetch_sub(1, std::memory_order_relaxed);
  }

  // Reads blocks ahead of the caller until the last is taken, a read fails,
  // the stream is over or a processor is wanted elsewhere.
  void ReadAhead() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_ && next_ < blocks_) {
      // Another long stream has begun since: its thread gets the processor,
      // and the caller reads the rest in line.
      if (NoneIdle(busy_threads.load(std::memory_order_relaxed) - 1)) return;
      // Block next_ takes the place of next_ - kBlocks. Without room the
      // reader naps rather than be woken: waking it would cost the hashing
      // thread a system call per block (on a virtual machine, the time to
      // hash a few kilobytes), and should it oversleep, the caller reads the
      // next block itself.
      if (next_ >= done_ + kBlocks) {
        stopping_.wait_for(lock, kNap);
        continue;
      }
      const uint64_t block = next_++;
      lock.unlock();
      const bool ok = ReadBlock(block);
      lock.lock();
      if (ok) {
        read_ = block + 1;
      } else {
        failed_ = true;
      }
      ready_.notify_one();
      if (!ok) return;
    }
  }

  const int fd_;
  const uint64_t offset_;
  const uint64_t length_;
  const uint64_t blocks_;
  uint8_t* const buffer_;

  std::mutex mutex_;
  std::condition_variable ready_;     // read_ or failed_ changed
  std::condition_variable stopping_;  // stop_ was set
  uint64_t next_ = 0;                 // blocks taken to read, by either thread
  uint64_t read_ = 0;                 // the reader has read every block below
  uint64_t done_ = 0;                 // blocks the sink is done with
  bool failed_ = false;               // a read of the reader's failed
  bool stop_ = false;                 // the stream is over, however it ended
  std::thread reader_;                // last: it starts after the rest is made
};

}  // namespace

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::string& path,
                                                     int* error) {
  std::optional<RegularFile> file = OpenRegularFile(path, error);
  if (!file) return nullptr;
  return std::unique_ptr<FileByteSource>(new FileByteSource(std::move(*file)));
}

bool FileByteSource::ReadAt(uint64_t offset, uint8_t* out, size_t length) {
  return Contains(offset, length) && ReadFully(fd_.get(), offset, out, length);
}

bool FileByteSource::Stream(uint64_t offset, uint64_t length,
                            const ChunkSink& sink) {
  if (!Contains(offset, length)) return false;
  if (length == 0) return true;
  // Mapped for this stream alone and unmapped at its end, so that what
  // follows (a chain's checks, loading the trust folder) never holds it:
  // the process's peak memory is the larger of the two, not their sum.
  // Left untouched until read into: a small file's stream costs only what
  // it reads.
  const MappedBuffer buffer(kBlocks * kBlockSize);
  if (!buffer.data()) return false;
  // The hash walks the file once from front to back: let the kernel read
  // ahead generously. Advice only, so its result does not matter.
  ::posix_fadvise(fd_.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  std::optional<BusyThread> busy;  // this thread, hashing a long stream
  if (length >= kReadAheadFrom) busy.emplace();
  // Declared after the buffer, so that its reader stops before the buffer
  // goes.
  BlockReader reader(fd_.get(), offset, length, buffer.data());
  if (busy) reader.Start();
  return reader.Feed(sink);
}

}  // namespace sealprobe

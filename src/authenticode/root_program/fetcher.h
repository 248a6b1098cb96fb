// Where sealprobe-roots takes Microsoft's files from: a web server (the
// HTTP fetcher), or files carried by hand. Nothing a fetcher returns is
// believed until the sync has checked it.
#ifndef SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_FETCHER_H_
#define SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_FETCHER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sealprobe {

struct Fetched {
  enum class Outcome {
    kOk,        // `bytes` hold the whole file
    kNotFound,  // the source has no such file (HTTP 404)
    kOverCap,   // it is larger than the bytes allowed
    kFailed,    // anything else: `detail` says what, in the source's words
  };
  Outcome outcome = Outcome::kFailed;
  std::vector<uint8_t> bytes;
  std::string detail;
};

class Fetcher {
 public:
  virtual ~Fetcher() = default;
  // Where the files come from, as a folder records it: the address of the
  // folder on the server, or "import".
  virtual std::string source() const = 0;
  // The source's file `name` ("authrootstl.cab", "<SHA1>.crt"), whole,
  // when it holds at most `max_bytes`. Never throws.
  virtual Fetched Fetch(const std::string& name, size_t max_bytes) = 0;
};

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_FETCHER_H_

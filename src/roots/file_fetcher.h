// The files `sealprobe-roots import` is handed: the offline way to the
// same sync, and the same checks.
#ifndef SEALPROBE_ROOTS_FILE_FETCHER_H_
#define SEALPROBE_ROOTS_FILE_FETCHER_H_

#include <cstddef>
#include <map>
#include <string>

#include "authenticode/root_program/fetcher.h"
#include "authenticode/root_program/root_folder.h"

namespace sealprobe {

// Serves files from this machine by their names, letter case aside.
class FileFetcher : public Fetcher {
 public:
  // Adds `path`: a file, which must have a name the sync asks for
  // (IsSyncFileName, sync.h), or a folder, whose files with such names
  // are added and the others ignored. False, with `error` saying why, for
  // a path that is neither, a file of another name, or a name given twice.
  bool Add(const std::string& path, std::string* error);

  std::string source() const override { return kImportedSource; }
  Fetched Fetch(const std::string& name, size_t max_bytes) override;

 private:
  bool AddFile(const std::string& path, const std::string& name,
               std::string* error);

  std::map<std::string, std::string> files_;  // lower-case name: path
};

}  // namespace sealprobe

#endif  // SEALPROBE_ROOTS_FILE_FETCHER_H_

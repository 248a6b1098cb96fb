// Finding one manifest entry in the two installation folders.
#ifndef SEALPROBE_PRODUCT_FILES_LOCATE_H_
#define SEALPROBE_PRODUCT_FILES_LOCATE_H_

#include <memory>
#include <optional>

#include "console.h"
#include "native_text.h"
#include "product_files/file_opener.h"

namespace sealprobe {

struct LocatedFile {
  NativeString path;
  // Held open while the file is verified; reset before the next entry.
  std::unique_ptr<OpenFile> probe;
};

// Tries `common_files_path` + `name`, then `product_path` + `name`: plain
// concatenations, no separator added or removed. The CommonFiles copy wins;
// the Product copy is not looked at when it opens. When neither opens,
// writes "\tNon-existing file: <name>\n" and returns nothing.
std::optional<LocatedFile> LocateProductFile(
    NativeStringView name, const NativeString& common_files_path,
    const NativeString& product_path, FileOpener& opener, Console& console);

}  // namespace sealprobe

#endif  // SEALPROBE_PRODUCT_FILES_LOCATE_H_

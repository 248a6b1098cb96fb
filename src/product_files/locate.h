// Finding one manifest entry in the two installation folders.
#ifndef SEALPROBE_PRODUCT_FILES_LOCATE_H_
#define SEALPROBE_PRODUCT_FILES_LOCATE_H_

#include <memory>
#include <optional>

#include "console.h"
#include "native_text.h"
#include "product_files/file_opener.h"

namespace sealprobe {

// The installation folders, in the order they are probed.
enum class ProductFolder { kCommonFiles, kProduct };

struct LocatedFile {
  NativeString path;
  // Held open while the file is verified; reset before the next entry.
  std::unique_ptr<OpenFile> probe;
  ProductFolder folder = ProductFolder::kCommonFiles;  // where it was found
};

// `folder` + `name`: a plain concatenation, no separator added or removed.
NativeString ProductFilePath(const NativeString& folder, NativeStringView name);

// Tries ProductFilePath(`common_files_path`, `name`), then
// ProductFilePath(`product_path`, `name`). The CommonFiles copy wins; the
// Product copy is not looked at when it opens. Nothing when neither opens.
std::optional<LocatedFile> ProbeProductFile(
    NativeStringView name, const NativeString& common_files_path,
    const NativeString& product_path, FileOpener& opener);

// ProbeProductFile, writing "\tNon-existing file: <name>\n" when it finds
// nothing.
std::optional<LocatedFile> LocateProductFile(
    NativeStringView name, const NativeString& common_files_path,
    const NativeString& product_path, FileOpener& opener, Console& console);

}  // namespace sealprobe

#endif  // SEALPROBE_PRODUCT_FILES_LOCATE_H_

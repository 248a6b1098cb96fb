#include "product_files/locate.h"

namespace sealprobe {

std::optional<LocatedFile> LocateProductFile(
    NativeStringView name, const NativeString& common_files_path,
    const NativeString& product_path, FileOpener& opener, Console& console) {
  for (const NativeString* folder : {&common_files_path, &product_path}) {
    NativeString candidate = *folder;
    candidate.append(name);
    if (std::unique_ptr<OpenFile> probe = opener.OpenForReading(candidate)) {
      return LocatedFile{std::move(candidate), std::move(probe)};
    }
  }
  NativeString line = SP_TEXT("\tNon-existing file: ");
  line.append(name);
  line.append(SP_TEXT("\n"));
  console.Write(line);
  return std::nullopt;
}

}  // namespace sealprobe

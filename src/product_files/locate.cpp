#include "product_files/locate.h"

#include <utility>

namespace sealprobe {

NativeString ProductFilePath(const NativeString& folder,
                             NativeStringView name) {
  NativeString path = folder;
  path.append(name);
  return path;
}

std::optional<LocatedFile> ProbeProductFile(
    NativeStringView name, const NativeString& common_files_path,
    const NativeString& product_path, FileOpener& opener) {
  for (const auto& [folder, which] :
       {std::pair{&common_files_path, ProductFolder::kCommonFiles},
        std::pair{&product_path, ProductFolder::kProduct}}) {
    NativeString candidate = ProductFilePath(*folder, name);
    if (std::unique_ptr<OpenFile> probe = opener.OpenForReading(candidate)) {
      return LocatedFile{std::move(candidate), std::move(probe), which};
    }
  }
  return std::nullopt;
}

std::optional<LocatedFile> LocateProductFile(
    NativeStringView name, const NativeString& common_files_path,
    const NativeString& product_path, FileOpener& opener, Console& console) {
  std::optional<LocatedFile> found =
      ProbeProductFile(name, common_files_path, product_path, opener);
  if (!found) {
    NativeString line = SP_TEXT("\tNon-existing file: ");
    line.append(name);
    line.append(SP_TEXT("\n"));
    console.Write(line);
  }
  return found;
}

}  // namespace sealprobe

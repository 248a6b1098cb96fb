#include "explain/decide/staging.h"

#include <utility>

#include "product_files/manifest.h"

namespace sealprobe {
namespace {

// What is wrong with the folder argument `path`, if anything.
std::optional<StagingFolderProblem> LookAtFolder(ProductFolder folder,
                                                 const std::string& path,
                                                 FileTree& tree) {
  if (path.empty()) return std::nullopt;
  std::string reason;
  if (path.back() != '/') {
    // Without a separator the argument is a prefix of each name; it is a
    // mistake when it names a folder. Any other prefix is taken as given.
    if (tree.KindOf(path, &reason) != FileTree::Kind::kFolder) {
      return std::nullopt;
    }
    return StagingFolderProblem{
        folder, path, StagingFolderProblem::Kind::kNoSeparator, {}};
  }
  // "." inside it can be looked at only when the folder can be searched,
  // which is all a probe needs of it.
  if (tree.KindOf(path + ".", &reason) == FileTree::Kind::kFolder) {
    return std::nullopt;
  }
  return StagingFolderProblem{folder, path,
                              StagingFolderProblem::Kind::kUnreadable, reason};
}

}  // namespace

bool StagingCheck::complete() const {
  if (!problems.empty()) return false;
  for (const StagingEntry& entry : entries) {
    if (!entry.found) return false;
  }
  return true;
}

StagingCheck CheckStaging(const std::string& product,
                          const std::string& common_files, FileTree& tree,
                          FileOpener& opener) {
  StagingCheck check;
  for (const auto& [folder, path] :
       {std::pair{ProductFolder::kCommonFiles, &common_files},
        std::pair{ProductFolder::kProduct, &product}}) {
    if (auto problem = LookAtFolder(folder, *path, tree)) {
      check.problems.push_back(std::move(*problem));
    }
  }
  for (NativeStringView name : kProductFileManifest) {
    StagingEntry entry;
    entry.name = std::string(name);
    entry.common_files_path = ProductFilePath(common_files, name);
    entry.product_path = ProductFilePath(product, name);
    if (const std::optional<LocatedFile> located =
            ProbeProductFile(name, common_files, product, opener)) {
      entry.found = located->folder;
    }
    check.entries.push_back(std::move(entry));
  }
  return check;
}

std::string DescribeStagingProblem(const StagingFolderProblem& problem) {
  const std::string which = problem.folder == ProductFolder::kCommonFiles
                                ? "the CommonFiles folder "
                                : "the product folder ";
  if (problem.kind == StagingFolderProblem::Kind::kUnreadable) {
    return which + problem.path + " cannot be searched: " + problem.reason;
  }
  return which + problem.path +
         " is a folder but does not end in '/': sealprobe looks for " +
         ProductFilePath(problem.path, kProductFileManifest[0]) +
         ", beside it; give " + problem.path + "/";
}

}  // namespace sealprobe

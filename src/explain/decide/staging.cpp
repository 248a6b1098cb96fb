#include "explain/decide/staging.h"

#include <algorithm>
#include <set>
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

// The files of the staged folders that no entry verifies, into
// check->others.
void WalkStagedFolders(const std::string& product,
                       const std::string& common_files, FileTree& tree,
                       const WalkLimits& limits, StagingCheck* check) {
  std::set<std::string> covered;
  for (const StagingEntry& entry : check->entries) {
    if (entry.found) covered.insert(entry.path());
  }
  Inputs walked;
  for (const auto& [folder, path] :
       {std::pair{ProductFolder::kCommonFiles, &common_files},
        std::pair{ProductFolder::kProduct, &product}}) {
    const bool troubled =
        std::any_of(check->problems.begin(), check->problems.end(),
                    [folder = folder](const StagingFolderProblem& p) {
                      return p.folder == folder;
                    });
    // A prefix that is no folder has nothing of its own to walk; one
    // folder given twice is walked once.
    const bool again =
        folder == ProductFolder::kProduct && product == common_files;
    if (!troubled && !again && (path->empty() || path->back() == '/')) {
      AddFolder(*path, tree, limits, &walked);
    }
  }
  std::sort(
      walked.files.begin(), walked.files.end(),
      [](const InputFile& a, const InputFile& b) { return a.path < b.path; });
  for (InputFile& file : walked.files) {
    // Folders given twice, or one inside the other, meet a file twice.
    if (covered.insert(file.path).second) {
      check->others.files.push_back(std::move(file));
    }
  }
  check->others.folders = std::move(walked.folders);
  check->others.problems = std::move(walked.problems);
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
                          FileOpener& opener, const WalkLimits& limits) {
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
  WalkStagedFolders(product, common_files, tree, limits, &check);
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

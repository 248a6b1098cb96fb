#include "explain/decide/inputs.h"

#include <algorithm>
#include <utility>

namespace sealprobe {
namespace {

// The programs under the folder `root`, sorted, into `inputs`.
void WalkFolder(const std::string& root, FileTree& tree,
                const WalkLimits& limits, Inputs* inputs) {
  std::vector<std::string> found;
  // Folders still to list, each path ending in '/'. A stack, not
  // recursion: a tree as deep as the file system allows costs memory on
  // the heap, in proportion to the entries seen.
  std::vector<std::string> pending = {
      root.empty() || root.back() == '/' ? root : root + '/'};
  std::vector<FileTree::Entry> entries;
  size_t seen = 0;
  std::string reason;
  while (!pending.empty()) {
    const std::string folder = std::move(pending.back());
    pending.pop_back();
    entries.clear();
    if (!tree.List(folder, limits.max_entries - seen, &entries, &reason)) {
      inputs->problems.push_back({folder, reason});
      continue;
    }
    if (entries.size() > limits.max_entries - seen) {
      inputs->problems.push_back(
          {root, "holds more than " + std::to_string(limits.max_entries) +
                     " entries, the most a folder argument may"});
      break;
    }
    seen += entries.size();
    for (FileTree::Entry& entry : entries) {
      std::string path = folder + entry.name;
      if (entry.kind == FileTree::Kind::kFolder) {
        pending.push_back(std::move(path) + '/');
      } else if (entry.kind == FileTree::Kind::kRegularFile) {
        const std::optional<bool> mz = tree.StartsWithMz(path, &reason);
        if (!mz) {
          inputs->problems.push_back({std::move(path), reason});
        } else if (*mz) {
          found.push_back(std::move(path));
        }
      }
    }
  }
  // The order a walk finds files in is the file system's; the order they
  // are reported in must not be. std::string compares as unsigned bytes.
  std::sort(found.begin(), found.end());
  inputs->files.insert(inputs->files.end(),
                       std::make_move_iterator(found.begin()),
                       std::make_move_iterator(found.end()));
}

}  // namespace

Inputs CollectInputs(const std::vector<std::string>& args, FileTree& tree,
                     const WalkLimits& limits) {
  Inputs inputs;
  std::string reason;
  for (const std::string& arg : args) {
    if (!arg.empty() && tree.KindOf(arg, &reason) == FileTree::Kind::kFolder) {
      WalkFolder(arg, tree, limits, &inputs);
    } else {
      inputs.files.push_back(arg);
    }
  }
  return inputs;
}

}  // namespace sealprobe

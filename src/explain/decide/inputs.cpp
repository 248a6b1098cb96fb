#include "explain/decide/inputs.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace sealprobe {

std::optional<FileKind> KindOfFile(FileTree& tree, const std::string& path,
                                   std::string* reason) {
  reason->clear();
  const std::unique_ptr<ByteSource> source = tree.Open(path, reason);
  if (!source) {
    if (reason->empty()) return FileKind::kOther;
    return std::nullopt;
  }
  const std::optional<FileKind> kind = KindOfContent(*source);
  if (!kind) *reason = "it could not be read";
  return kind;
}

void AddFolder(const std::string& root, FileTree& tree,
               const WalkLimits& limits, Inputs* inputs) {
  std::vector<InputFile> found;
  FolderCount count{root};
  // Folders still to list, each path ending in '/' (or empty, for the
  // current folder). A stack, not recursion: a tree as deep as the file
  // system allows costs memory on the heap, in proportion to the entries
  // seen.
  std::vector<std::string> pending = {
      root.empty() || root.back() == '/' ? root : root + '/'};
  std::vector<FileTree::Entry> entries;
  size_t seen = 0;
  std::string reason;
  while (!pending.empty()) {
    const std::string folder = std::move(pending.back());
    pending.pop_back();
    entries.clear();
    if (!tree.List(folder.empty() ? "." : folder, limits.max_entries - seen,
                   &entries, &reason)) {
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
        const std::optional<FileKind> kind = KindOfFile(tree, path, &reason);
        if (!kind) {
          inputs->problems.push_back({std::move(path), reason});
        } else if (IsVerified(*kind)) {
          ++count.verified;
          found.push_back({std::move(path), std::nullopt});
        } else if (IsUnsupported(*kind)) {
          ++count.unsupported;
          found.push_back({std::move(path), kind});
        } else {
          ++count.others;
        }
      }
    }
  }
  // The order a walk finds files in is the file system's; the order they
  // are reported in must not be. std::string compares as unsigned bytes.
  std::sort(
      found.begin(), found.end(),
      [](const InputFile& a, const InputFile& b) { return a.path < b.path; });
  inputs->files.insert(inputs->files.end(),
                       std::make_move_iterator(found.begin()),
                       std::make_move_iterator(found.end()));
  inputs->folders.push_back(std::move(count));
}

Inputs CollectInputs(const std::vector<std::string>& args, FileTree& tree,
                     const WalkLimits& limits) {
  Inputs inputs;
  std::string reason;
  for (const std::string& arg : args) {
    const FileTree::Kind kind =
        arg.empty() ? FileTree::Kind::kMissing : tree.KindOf(arg, &reason);
    if (kind == FileTree::Kind::kFolder) {
      AddFolder(arg, tree, limits, &inputs);
      continue;
    }
    InputFile file{arg, std::nullopt};
    // One that cannot be looked at is verified all the same: its
    // verification says why it cannot.
    if (kind == FileTree::Kind::kRegularFile) {
      const std::optional<FileKind> content = KindOfFile(tree, arg, &reason);
      if (content && IsUnsupported(*content)) file.unsupported = content;
    }
    inputs.files.push_back(std::move(file));
  }
  return inputs;
}

}  // namespace sealprobe

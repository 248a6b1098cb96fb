// The installer's check, strict: sealprobe's walk of the product files over
// two staged installation folders, with every entry reported and the
// folders themselves looked at.
#ifndef SEALPROBE_EXPLAIN_DECIDE_STAGING_H_
#define SEALPROBE_EXPLAIN_DECIDE_STAGING_H_

#include <optional>
#include <string>
#include <vector>

#include "explain/decide/inputs.h"
#include "product_files/file_opener.h"
#include "product_files/locate.h"

namespace sealprobe {

// A folder argument sealprobe would take, but not the way it was meant.
struct StagingFolderProblem {
  enum class Kind {
    // A folder, but without its trailing '/': sealprobe joins each name to
    // it as given, so it looks beside the folder, not in it.
    kNoSeparator,
    // It ends in '/' but is no folder that can be searched (`reason` says
    // why): nothing can be found in it.
    kUnreadable,
  };
  ProductFolder folder;
  std::string path;  // as given
  Kind kind;
  std::string reason;  // kUnreadable: the system's words
};

// One manifest entry: where it was looked for and where it was found.
struct StagingEntry {
  std::string name;                    // the manifest's
  std::string common_files_path;       // probed first
  std::string product_path;            // probed when the first does not open
  std::optional<ProductFolder> found;  // nothing: in neither folder

  // The path verified; only when found.
  const std::string& path() const {
    return *found == ProductFolder::kCommonFiles ? common_files_path
                                                 : product_path;
  }
};

struct StagingCheck {
  std::vector<StagingFolderProblem> problems;  // at most one per folder
  // Every entry of kProductFileManifest, in its order: sealprobe's own
  // executable twice, since sealprobe verifies it twice.
  std::vector<StagingEntry> entries;
  // The other files of the two folders that a folder argument's walk
  // would list (AddFolder): those no entry verifies (a copy in the product
  // folder of one the CommonFiles folder holds too, a file the manifest
  // does not name), each once, in byte order of the paths; and what each
  // walk found and could not read.
  Inputs others;

  // No folder problem and every entry found: what the strict check needs
  // before it verifies the entries found.
  bool complete() const;
};

// Probes every manifest entry in `common_files` then `product` exactly as
// sealprobe does (ProbeProductFile: the same concatenation, the same
// opener, the CommonFiles copy first), and looks at each folder argument
// that is not empty (empty is the current folder, as for sealprobe). Then
// walks each one that is a folder sealprobe looks in (it ends in '/' or is
// empty, and has no problem) for the others. A probe only opens and closes
// the file; verifying it is the caller's.
StagingCheck CheckStaging(const std::string& product,
                          const std::string& common_files, FileTree& tree,
                          FileOpener& opener, const WalkLimits& limits = {});

// A problem for a person, in one sentence without the final period, e.g.
// "the CommonFiles folder staging/common is a folder but does not end in
// '/': sealprobe looks for staging/commontv-Common.v5.21.40.0.dll, beside
// it; give staging/common/".
std::string DescribeStagingProblem(const StagingFolderProblem& problem);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_DECIDE_STAGING_H_

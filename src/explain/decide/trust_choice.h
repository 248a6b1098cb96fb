// The one place sealprobe-explain chooses what to trust: from the command
// line and the environment, the store every chain of a run is judged
// against.
#ifndef SEALPROBE_EXPLAIN_DECIDE_TRUST_CHOICE_H_
#define SEALPROBE_EXPLAIN_DECIDE_TRUST_CHOICE_H_

#include <optional>
#include <string>

#include "authenticode/root_program/windows_roots.h"
#include "authenticode/trust_anchors.h"

namespace sealprobe {

// What the command line says of trust; empty is not given.
struct TrustOptions {
  std::string anchors_file;    // --anchors: a PEM file, besides OpenSSL's
  std::string windows_folder;  // --windows-trust: Windows' root program
};

// Why nothing is trusted as asked.
struct TrustProblem {
  enum class Kind {
    kAnchorsWithWindowsTrust,  // --anchors beside --windows-trust
    kAnchorsWithEnvironment,   // --anchors beside SEALPROBE_WINDOWS_TRUST
    kAnchorsFile,              // the --anchors file cannot serve:
                               // `anchors_fault`
    kNotLoaded,                // Windows' root program does not load
  };
  Kind kind;
  // The file or folder at fault; empty for a conflict, which is the
  // command line's.
  std::string path;
  std::optional<TrustLoadError> load_error;  // kNotLoaded: why
  PemAnchors::Fault anchors_fault = PemAnchors::Fault::kNone;
  int error = 0;  // errno, for PemAnchors::Fault::kUnreadable
};

// The anchors chosen, or why there are none.
struct TrustChoice {
  std::optional<TrustAnchors> anchors;
  std::optional<TrustProblem> problem;
};

// --windows-trust's folder, else --anchors besides OpenSSL's store, else
// what sealprobe takes (TrustAnchors::FromEnvironment: the environment's
// folder, else the synced one, else OpenSSL's store alone). --anchors goes
// with neither --windows-trust nor the environment's folder (the root program
// replaces OpenSSL's store, which
// --anchors adds to): with --windows-trust that is a problem before the
// file is looked at, with the environment's folder one after. Windows'
// root program is loaded here, so that a folder that does not load stops
// the run before any file is explained against a store sealprobe would not
// use.
TrustChoice ChooseTrust(const TrustOptions& options,
                        const TrustEnvironment& environment);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_DECIDE_TRUST_CHOICE_H_

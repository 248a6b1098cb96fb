// The one place sealprobe-explain chooses what to trust: from the command
// line and the environment, the store every chain of a run is judged
// against.
#ifndef SEALPROBE_EXPLAIN_DECIDE_TRUST_CHOICE_H_
#define SEALPROBE_EXPLAIN_DECIDE_TRUST_CHOICE_H_

#include <optional>
#include <string>

#include "authenticode/trust_anchors.h"
#include "authenticode/windows_roots.h"

namespace sealprobe {

// What the command line says of trust; empty is not given.
struct TrustOptions {
  std::string anchors_file;    // --anchors: a PEM file, besides OpenSSL's
  std::string windows_folder;  // --windows-trust: Windows' root program
};

// What the environment says of it.
struct TrustEnvironment {
  // SEALPROBE_WINDOWS_TRUST's folder, as sealprobe takes it; empty when it
  // is unset or empty.
  std::string windows_folder;
};

// This process's environment: the one place sealprobe-explain reads it.
TrustEnvironment ReadTrustEnvironment();

// Why nothing is trusted as asked.
struct TrustProblem {
  enum class Kind {
    kAnchorsWithWindowsTrust,  // --anchors beside --windows-trust
    kAnchorsWithEnvironment,   // --anchors beside SEALPROBE_WINDOWS_TRUST
    kAnchorsNotOpened,         // the --anchors file does not open,
    kAnchorsNotPem,            // ...does not decode as PEM,
    kAnchorsNoCertificate,     // ...or holds no certificate
    kNotLoaded,                // Windows' root program does not load
  };
  Kind kind;
  // The file or folder at fault; empty for a conflict, which is the
  // command line's.
  std::string path;
  std::optional<TrustLoadError> load_error;  // kNotLoaded: why
};

// The anchors chosen, or why there are none.
struct TrustChoice {
  std::optional<TrustAnchors> anchors;
  std::optional<TrustProblem> problem;
};

// --windows-trust's folder, else --anchors besides OpenSSL's store, else
// the environment's folder, else OpenSSL's store alone. --anchors goes
// with neither folder (the root program replaces OpenSSL's store, which
// --anchors adds to): with --windows-trust that is a problem before the
// file is looked at, with the environment's folder one after. Windows'
// root program is loaded here, so that a folder that does not load stops
// the run before any file is explained against a store sealprobe would not
// use.
TrustChoice ChooseTrust(const TrustOptions& options,
                        const TrustEnvironment& environment);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_DECIDE_TRUST_CHOICE_H_

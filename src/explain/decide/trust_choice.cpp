#include "explain/decide/trust_choice.h"

#include <utility>

namespace sealprobe {
namespace {

using Kind = TrustProblem::Kind;

TrustChoice Problem(Kind kind, std::string path = {}) {
  return {std::nullopt, TrustProblem{kind, std::move(path), std::nullopt}};
}

}  // namespace

TrustChoice ChooseTrust(const TrustOptions& options,
                        const TrustEnvironment& environment) {
  if (!options.anchors_file.empty()) {
    if (!options.windows_folder.empty()) {
      return Problem(Kind::kAnchorsWithWindowsTrust);
    }
    const PemAnchors pem = ReadPemAnchors(options.anchors_file);
    if (pem.fault != PemAnchors::Fault::kNone) {
      TrustChoice choice = Problem(Kind::kAnchorsFile, options.anchors_file);
      choice.problem->anchors_fault = pem.fault;
      choice.problem->error = pem.error;
      return choice;
    }
    if (environment.set && !environment.folder.empty()) {
      return Problem(Kind::kAnchorsWithEnvironment);
    }
    return {TrustAnchors::SystemDefaultAnd(options.anchors_file), {}};
  }
  TrustAnchors anchors =
      !options.windows_folder.empty()
          ? TrustAnchors::WindowsRootProgram(options.windows_folder)
          : TrustAnchors::FromEnvironment(environment);
  if (anchors.source() != TrustAnchors::Source::kWindowsRootProgram) {
    return {std::move(anchors), {}};
  }
  anchors.Get();
  if (const std::optional<TrustLoadError>& failed = anchors.load_error()) {
    TrustChoice choice = Problem(Kind::kNotLoaded, failed->file);
    choice.problem->load_error = failed;
    return choice;
  }
  return {std::move(anchors), {}};
}

}  // namespace sealprobe

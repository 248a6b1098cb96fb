// Where sealprobe-roots keeps Windows' root program when not told, and so
// where sealprobe and sealprobe-explain look for it.
#ifndef SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_DEFAULT_FOLDER_H_
#define SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_DEFAULT_FOLDER_H_

#include <string>

namespace sealprobe {

// /var/lib/sealprobe/windows-trust for root; otherwise
// $XDG_DATA_HOME/sealprobe/windows-trust, $XDG_DATA_HOME being
// $HOME/.local/share when unset or not absolute. Empty when neither root
// nor with a home to put it in.
std::string DefaultWindowsTrustFolder();

// Whether `folder` holds a root list (authroot.stl or authrootstl.cab), so
// that a run should take it rather than OpenSSL's store.
bool HoldsRootList(const std::string& folder);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_DEFAULT_FOLDER_H_

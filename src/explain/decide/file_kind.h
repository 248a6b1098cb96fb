// What a file is, told by its content as Windows tells which of its
// subject interface packages (SIPs) verifies a file, whatever its name:
// one of the two kinds sealprobe verifies, one of the kinds Windows signs
// that it does not, or neither. The folder walk lists files by it, so that
// nothing signable in a release folder is left out without a word.
#ifndef SEALPROBE_EXPLAIN_DECIDE_FILE_KIND_H_
#define SEALPROBE_EXPLAIN_DECIDE_FILE_KIND_H_

#include <cstddef>
#include <optional>

#include "authenticode/byte_source.h"

namespace sealprobe {

enum class FileKind {
  // Verified (authenticode.h):
  kPe,         // starts with "MZ"
  kInstaller,  // a compound file whose root storage is a Windows Installer
               // package's or patch's (msi_package.h), or whose root cannot
               // be read: its verification says why
  // Signed on Windows, not verified here:
  kCabinet,     // starts with "MSCF" and a reserved field of zeros
  kCatalog,     // a DER PKCS#7 SignedData whose content is a certificate trust
                // list (1.3.6.1.4.1.311.10.1): a catalog (.cat) or a trust
                // list (.stl)
  kScript,      // ends in a script's signature block: PowerShell's
                // "# SIG # End signature block" (also inside <!-- --> or
                // /* */), VBScript's "'' SIG ''" or JScript's "// SIG //" form,
                // in ASCII, UTF-8 or UTF-16 either way round
  kAppPackage,  // a ZIP archive that names an MSIX or APPX package's
                // footprint files (AppxManifest.xml, AppxBlockMap.xml,
                // AppxSignature.p7x, AppxBundleManifest.xml)
  kCompoundFile,  // any other compound file: a transform, an Office
                  // document
  kOther,         // none of these
};

// Whether sealprobe verifies files of `kind`.
bool IsVerified(FileKind kind);

// Whether `kind` is one Windows signs that sealprobe does not verify.
bool IsUnsupported(FileKind kind);

// The most KindOfContent reads at each end of a file.
inline constexpr size_t kContentProbeBytes = 4096;

// The kind of the file in `source`, from at most kContentProbeBytes at its
// start and as many at its end, and for a compound file its header and its
// root's directory entry (ReadRootClsid): a few reads whatever its size.
// Nothing when a read fails.
std::optional<FileKind> KindOfContent(ByteSource& source);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_DECIDE_FILE_KIND_H_

// What Authenticode signs of a Windows Installer package (.msi, .msm) or
// patch (.msp): a compound file (compound_file.h) whose root storage has
// the installer's CLSID, its signature in the root's \x05DigitalSignature
// stream, and the bytes its digest covers. The digest as Windows' installer
// SIP computes it is described by osslsigncode's msi.c (msi_hash_dir,
// msi_prehash_dir) and signify's signed_file/msi.py, which verify what
// signtool signs: every stream's bytes, each storage's children in the
// order of their raw UTF-16LE names compared octet for octet, each storage
// (the root last) followed by its CLSID, the two signature streams of the
// root left out; with a \x05MsiDigitalSignatureEx stream, a pre-hash of
// the entries' metadata first, which that stream holds.
#ifndef SEALPROBE_AUTHENTICODE_MSI_PACKAGE_H_
#define SEALPROBE_AUTHENTICODE_MSI_PACKAGE_H_

#include <cstddef>
#include <cstdint>
#include <optional>

#include "authenticode/byte_source.h"
#include "authenticode/compound_file.h"

namespace sealprobe {

// The root storage's CLSIDs of Windows Installer's packages (and merge
// modules), {000C1084-0000-0000-C000-000000000046}, and of its patches,
// {000C1086-...} ("Identifying Windows Installer File Types", Heath
// Stewart, devblogs.microsoft.com/setup). Transforms ({000C1082-...}) are
// not taken for signed files: nothing public shows Windows' SIP verifying
// one.
bool IsInstallerClsid(const Clsid& clsid);

// What a root's CLSID says a compound file is, among Windows Installer's
// files: a package, a patch, a transform ({000C1082-...}), or none of them.
enum class InstallerClass { kNone, kPackage, kPatch, kTransform };
InstallerClass InstallerClassOf(const Clsid& clsid);

// The root's \x05DigitalSignature and \x05MsiDigitalSignatureEx streams, as
// Windows opens them by name (CompoundFile::FindInRoot).
std::optional<uint32_t> FindSignatureStream(const CompoundFile& file);
std::optional<uint32_t> FindMetadataStream(const CompoundFile& file);

// Hands `sink` the bytes the digest covers after any pre-hash: each
// stream's contents, storage by storage, each storage's CLSID after its
// children, the root's last; the two signature streams of the root left
// out. Nothing is held but one stream's block at a time; kReadError also
// when the sink stops.
CompoundStatus FeedInstallerContent(CompoundFile& file, ByteSource& source,
                                    const ChunkSink& sink);

// Hands `sink` the bytes the pre-hash covers, from the directory alone: the
// root's CLSID and state bits, then for each child in the same order a
// stream's raw name, the low 32 bits of its size, state bits and creation
// and modification times, or a storage's raw name, CLSID, state bits and
// times followed by its own children. False when the sink stops.
bool FeedInstallerMetadata(const CompoundFile& file, const ChunkSink& sink);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_MSI_PACKAGE_H_

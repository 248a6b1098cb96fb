// What the values of the record's enums are called, each by a switch over
// every value, so that a new one cannot go unnamed: their names in JSON,
// which pipelines match on (docs/verifier.md lists them), and their words
// for a person.
#ifndef SEALPROBE_EXPLAIN_WORDS_NAMES_H_
#define SEALPROBE_EXPLAIN_WORDS_NAMES_H_

#include "authenticode/chain_problem.h"
#include "authenticode/compound_file.h"
#include "authenticode/msi_package.h"
#include "authenticode/timestamp.h"
#include "authenticode/trust_anchors.h"
#include "authenticode/verification.h"
#include "explain/decide/file_kind.h"
#include "product_files/locate.h"

namespace sealprobe {

// What a value is called: its stable name in JSON, and a person's words.
struct ValueNames {
  const char* json;
  const char* text;
};

// "rfc3161", "RFC 3161"; "legacy" (a counter-signature); "none".
ValueNames NamesOf(StampForm form);

// Why the chain was checked at its time: "stamp", "the timestamp's time";
// "now", "now: no timestamp"; "lifetime-signing", "now: lifetime signing,
// whatever the timestamp".
ValueNames NamesOf(CheckingTime::Basis basis);

// Where a staged entry was found: "common_files", "CommonFiles folder,
// which sealprobe looks in first"; "product", "product folder".
ValueNames NamesOf(ProductFolder folder);

// What a file is by its content: "pe", "a PE image"; "installer";
// "cabinet", "a cabinet (MSCF)"; "catalog"; "script"; "app_package";
// "compound_file"; "other".
ValueNames NamesOf(FileKind kind);

// What a compound file's root class says it is: "package", "Windows
// Installer package"; "patch"; "transform"; none: "", "compound file".
ValueNames NamesOf(InstallerClass kind);

// Why a compound file cannot be read, as JSON names it: "header",
// "too_many_sectors", ..., "duplicate_name"; "" for kNone.
const char* CompoundFaultName(CompoundFault fault);

// The store's name in JSON: "system", "anchors" (with a PEM file) or
// "windows-root-program".
const char* StoreName(TrustAnchors::Source source);

// "code signing", "time stamping".
const char* UseText(ChainUse use);

// How an anchor is trusted: "in the store", "listed in the CTL", "built
// into Windows".
const char* AnchorSourceText(AnchorSource source);

// The name of the root-program property that found `finding` ("EKU",
// "NotBefore", "Disable", "Disallowed", "built-in root"); null when no
// property did.
const char* PropertyName(Finding finding);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_WORDS_NAMES_H_

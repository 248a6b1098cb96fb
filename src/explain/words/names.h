// What the values of the record's enums are called, each by a switch over
// every value, so that a new one cannot go unnamed: their names in JSON,
// which pipelines match on (docs/verifier.md lists them), and their words
// for a person.
#ifndef SEALPROBE_EXPLAIN_WORDS_NAMES_H_
#define SEALPROBE_EXPLAIN_WORDS_NAMES_H_

#include "authenticode/chain_problem.h"
#include "authenticode/timestamp.h"
#include "authenticode/trust_anchors.h"
#include "authenticode/verification.h"
#include "product_files/locate.h"

namespace sealprobe {

// JSON's names.

// "system", "anchors" (with a PEM file) or "windows-root-program".
const char* StoreName(TrustAnchors::Source source);

// "rfc3161", "legacy" (a counter-signature) or "none".
const char* StampFormName(StampForm form);

// Why the chain was checked at its time: "stamp", "now" or
// "lifetime-signing".
const char* CheckingBasisName(CheckingTime::Basis basis);

// "common_files" or "product".
const char* ProductFolderName(ProductFolder folder);

// A person's words.

// "code signing", "time stamping".
const char* UseText(ChainUse use);

// "RFC 3161", "legacy", "none".
const char* StampFormText(StampForm form);

// "the timestamp's time", "now: no timestamp", "now: lifetime signing,
// whatever the timestamp".
const char* CheckingBasisText(CheckingTime::Basis basis);

// Where a staged entry was found: "CommonFiles folder, which sealprobe
// looks in first", "product folder".
const char* ProductFolderText(ProductFolder folder);

// How an anchor is trusted: "in the store", "listed in the CTL", "built
// into Windows".
const char* AnchorSourceText(AnchorSource source);

// The name of the root-program property that found `finding` ("EKU",
// "NotBefore", "Disable", "Disallowed", "built-in root"); null when no
// property did.
const char* PropertyName(Finding finding);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_WORDS_NAMES_H_

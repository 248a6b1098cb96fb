// Records for a person: the text format.
#ifndef SEALPROBE_EXPLAIN_FORMATS_TEXT_RENDERER_H_
#define SEALPROBE_EXPLAIN_FORMATS_TEXT_RENDERER_H_

#include <memory>
#include <string>

#include "explain/decide/file_record.h"
#include "explain/formats/renderer.h"

namespace sealprobe {

// In 80 columns: the file, its verdict line and the deciding rule first,
// then the store that decided and the anchor, the image (with the bytes
// after its signature) or the installer, the signer (with its
// certificate's SHA-256, as --signer takes it), the time the chain was
// checked at, the chain as a tree with a tick or a cross beside each
// certificate, and the timestamp. A file of a kind not verified gets its
// verdict, why it is not checked and what its content showed, and a dash
// instead of a cross when the run lets it pass. Every text from outside
// (the file's name, what certificates say, the trust folder) is
// TerminalSafe (terminal_text.h); the marks are not. With `colour`, a cross
// is red.
std::string HumanReport(const FileRecord& record, bool colour);

// Each record's HumanReport, a blank line between two, with
// settings.colour; with settings.quiet, only those of the records that
// are not valid (Outcome::kFailed and kUnreadable). Then a line that sums
// the run up: the files, how many are valid, how many failed by each code,
// how many could not be read and how many were not checked. Before the
// first report, or before that line when there is none, a note when the
// store is not Windows' root program (the record's, or settings.trust).
std::unique_ptr<ReportRenderer> MakeTextRenderer(
    const RendererSettings& settings);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_TEXT_RENDERER_H_

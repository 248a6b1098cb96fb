// Fuzzes what sealprobe-explain makes of a file's bytes: the verification,
// then both renderings of its record, descriptions of whatever certificates
// the signature carries included. What a person sees may hold no control
// character but the line feeds (and no ESC at all without colour), and it
// must be strict UTF-8, as the JSON must.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "explain/formats/json_record.h"
#include "explain/formats/json_writer.h"
#include "explain/formats/text_renderer.h"
#include "testing/fuzz_trust.h"

namespace {

bool Printable(const std::string& text) {
  // Not UTF-8 could be a lone C1 control (0x9B) to an 8-bit terminal.
  if (!sealprobe::IsUtf8(text)) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool c1 = byte == 0xc2 && i + 1 < text.size() &&
                    static_cast<unsigned char>(text[i + 1]) < 0xa0 &&
                    static_cast<unsigned char>(text[i + 1]) >= 0x80;
    if ((byte < 0x20 && byte != '\n') || byte == 0x7f || c1) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sealprobe::FileRecord report;
  report.file = "fuzz.exe";
  report.verification = sealprobe::VerifyFuzzInput(data, size);
  if (!Printable(sealprobe::HumanReport(report, false))) std::abort();
  std::vector<sealprobe::FileRecord> reports;
  reports.push_back(std::move(report));
  if (!sealprobe::IsUtf8(sealprobe::JsonReport(reports, "fuzz"))) std::abort();
  return 0;
}

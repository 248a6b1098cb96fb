// Fuzzes what sealprobe-explain makes of a file's bytes: what the folder
// walk tells the file to be by its content, the verification, then its
// record in every format, descriptions of whatever certificates
// the signature carries included. What a person sees must be UTF-8 and
// hold no control character but line feeds (and no ESC at all without
// colour); JSON, each line of JSON Lines and SARIF must parse as strict
// JSON in UTF-8; JUnit must be UTF-8 holding only characters XML 1.0
// allows.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "explain/decide/file_kind.h"
#include "explain/formats/format_table.h"
#include "explain/formats/text_encodings.h"
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

// Whether `text` is UTF-8 and holds only characters XML 1.0 allows: no C0
// control but tab, line feed and carriage return, neither U+FFFE nor
// U+FFFF.
bool XmlCharacters(const std::string& text) {
  if (!sealprobe::IsUtf8(text)) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') {
      return false;
    }
    if (text.compare(i, 3, "\xef\xbf\xbe") == 0 ||
        text.compare(i, 3, "\xef\xbf\xbf") == 0) {
      return false;
    }
  }
  return true;
}

// A strict reader of RFC 8259 JSON that only says whether the text is
// one value; the UTF-8 inside strings is IsUtf8's to judge.
class JsonChecker {
 public:
  explicit JsonChecker(const std::string& text) : s_(text) {}

  bool Whole() {
    if (!sealprobe::IsUtf8(s_) || !Value(0)) return false;
    Space();
    return at_ == s_.size();
  }

 private:
  void Space() {
    while (at_ < s_.size() && std::strchr(" \t\n\r", s_[at_]) != nullptr) {
      ++at_;
    }
  }
  bool Take(char c) {
    Space();
    if (at_ >= s_.size() || s_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool Word(const char* word) {
    const size_t n = std::strlen(word);
    if (s_.compare(at_, n, word) != 0) return false;
    at_ += n;
    return true;
  }
  bool Digits() {
    const size_t from = at_;
    while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
    return at_ > from;
  }
  bool Number() {
    Word("-");
    if (!Word("0") && !Digits()) return false;
    if (Word(".") && !Digits()) return false;
    if (Word("e") || Word("E")) {
      if (!Word("+")) Word("-");
      return Digits();
    }
    return true;
  }
  bool String() {
    if (!Take('"')) return false;
    while (at_ < s_.size()) {
      const auto c = static_cast<unsigned char>(s_[at_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') continue;
      if (at_ >= s_.size()) return false;
      const char escaped = s_[at_++];
      if (escaped == 'u') {
        for (int k = 0; k < 4; ++k, ++at_) {
          if (at_ >= s_.size() ||
              !std::isxdigit(static_cast<unsigned char>(s_[at_]))) {
            return false;
          }
        }
      } else if (std::strchr("\"\\/bfnrt", escaped) == nullptr ||
                 escaped == '\0') {
        return false;
      }
    }
    return false;
  }
  // Members of an object (`close` '}') or items of an array (']').
  bool Items(char close, int depth) {
    if (Take(close)) return true;
    do {
      if (close == '}' && (!String() || !Take(':'))) return false;
      if (!Value(depth + 1)) return false;
    } while (Take(','));
    return Take(close);
  }
  bool Value(int depth) {
    Space();
    if (depth > 64 || at_ >= s_.size()) return false;
    if (Take('{')) return Items('}', depth);
    if (Take('[')) return Items(']', depth);
    if (s_[at_] == '"') return String();
    return Word("true") || Word("false") || Word("null") || Number();
  }

  const std::string& s_;
  size_t at_ = 0;
};

bool Json(const std::string& text) { return JsonChecker(text).Whole(); }

bool JsonLines(const std::string& text) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!Json(line)) return false;
  }
  return !text.empty() && text.back() == '\n';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using sealprobe::ReportFormat;
  sealprobe::FileRecord record;
  record.file = "fuzz.exe";
  record.verification = sealprobe::VerifyFuzzInput(data, size);
  sealprobe::MemoryByteSource source(data, size);
  const std::optional<sealprobe::FileKind> kind =
      sealprobe::KindOfContent(source);
  if (kind && sealprobe::IsUnsupported(*kind)) {
    record.unsupported = kind;
    record.unsupported_allowed = size % 2 == 1;
  }
  const struct {
    ReportFormat format;
    bool (*sound)(const std::string&);
  } kFormats[] = {
      {ReportFormat::kText, Printable},
      {ReportFormat::kJson, Json},
      {ReportFormat::kJsonLines, JsonLines},
      {ReportFormat::kJUnit, XmlCharacters},
      {ReportFormat::kSarif, Json},
  };
  for (const auto& f : kFormats) {
    const std::unique_ptr<sealprobe::ReportRenderer> renderer =
        sealprobe::MakeReportRenderer(f.format, {"fuzz", false});
    const std::string out = renderer->Add(record) + renderer->End({});
    if (!f.sound(out)) std::abort();
  }
  return 0;
}

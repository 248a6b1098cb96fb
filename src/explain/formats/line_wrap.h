// Wrapping text for a terminal of a fixed width.
#ifndef SEALPROBE_EXPLAIN_FORMATS_LINE_WRAP_H_
#define SEALPROBE_EXPLAIN_FORMATS_LINE_WRAP_H_

#include <cstddef>
#include <string>

namespace sealprobe {

// Lines of at most `width` columns, each ending in a line feed. Columns are
// counted on a terminal: a UTF-8 continuation octet takes none, nor does an
// ESC sequence up to its 'm' (a colour in a prefix).
class LineWrap {
 public:
  explicit LineWrap(size_t width = 80) : width_(width) {}

  // `text`, its words (split at spaces) on lines that `first` begins (the
  // first line) or `rest` (the others). A word moves on whole to the next
  // line; one longer than a line is cut, never inside a UTF-8 character.
  // Trailing spaces go. Each octet of the text is looked at a bounded
  // number of times, however long its words: a subject can be a megabyte
  // without a space.
  void Add(const std::string& first, const std::string& text,
           const std::string& rest);

  const std::string& str() const { return out_; }

 private:
  void Flush(std::string* line);

  size_t width_;
  std::string out_;
};

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_LINE_WRAP_H_

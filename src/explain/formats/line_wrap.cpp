#include "explain/formats/line_wrap.h"

#include <algorithm>

namespace sealprobe {
namespace {

bool IsContinuation(char c) {
  return (static_cast<unsigned char>(c) & 0xc0) == 0x80;
}

// Columns on a terminal of text[from, to).
size_t Columns(const std::string& text, size_t from, size_t to) {
  size_t columns = 0;
  bool escape = false;
  for (size_t i = from; i < to; ++i) {
    const char c = text[i];
    if (c == '\x1b') escape = true;
    if (escape) {
      if (c == 'm') escape = false;
      continue;
    }
    if (!IsContinuation(c)) ++columns;
  }
  return columns;
}

}  // namespace

void LineWrap::Add(const std::string& first, const std::string& text,
                   const std::string& rest) {
  std::string line = first;
  size_t columns = Columns(first, 0, first.size());
  bool empty = true;  // no word on `line` yet
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    size_t word = at;  // where what is left of the word starts
    size_t word_columns = Columns(text, word, end);
    at = end + 1;
    while (word < end) {
      const size_t used = columns + (empty ? 0 : 1);
      const size_t room = used < width_ ? width_ - used : 0;
      if (word_columns <= room) {
        if (!empty) line += ' ';
        line.append(text, word, end - word);
        columns = used + word_columns;
        empty = false;
        break;
      }
      if (empty) {
        // Longer than a whole line: as many characters as there is room
        // for (one at least), cut between characters.
        const size_t want = std::max<size_t>(room, 1);
        size_t cut = word;
        for (size_t taken = 0;
             cut < end && (taken < want || IsContinuation(text[cut])); ++cut) {
          if (!IsContinuation(text[cut])) ++taken;
        }
        line.append(text, word, cut - word);
        word_columns -= Columns(text, word, cut);
        word = cut;
      }
      Flush(&line);
      line = rest;
      columns = Columns(rest, 0, rest.size());
      empty = true;
    }
  }
  Flush(&line);
}

void LineWrap::Flush(std::string* line) {
  while (!line->empty() && line->back() == ' ') line->pop_back();
  out_ += *line + "\n";
  line->clear();
}

}  // namespace sealprobe

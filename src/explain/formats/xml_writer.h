// Writing XML 1.0 text, whatever the bytes it is made from.
#ifndef SEALPROBE_EXPLAIN_FORMATS_XML_WRITER_H_
#define SEALPROBE_EXPLAIN_FORMATS_XML_WRITER_H_

#include <string>

namespace sealprobe {

// `text` as XML 1.0 character data or a double-quoted attribute value:
// UTF-8 (ValidUtf8, text_encodings.h), the markup characters (& < > ") and
// line breaks and tabs as references, and each character XML 1.0 cannot
// hold at all (C0 controls but tab, line feed and carriage return; U+FFFE
// and U+FFFF) as U+FFFD.
std::string XmlText(const std::string& text);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_XML_WRITER_H_

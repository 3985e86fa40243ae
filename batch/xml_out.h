// SPDX-License-Identifier: GPL-2.0-or-later
// An XML document written through libxml2's text writer (escaping,
// well-formedness and the encoding are the library's): elements opened
// and closed in order, attributes and text. Text must be UTF-8
// (book_meta.h XmlSafeText).
#pragma once

#include <string>

namespace inkbrite {

class XmlOut {
 public:
  // Starts a UTF-8 document, indented.
  XmlOut();
  ~XmlOut();
  XmlOut(const XmlOut&) = delete;
  XmlOut& operator=(const XmlOut&) = delete;

  // <!DOCTYPE name> (no public or system identifier).
  XmlOut& Doctype(const char* name);
  // <?target content?>
  XmlOut& Pi(const char* target, const std::string& content);
  XmlOut& Open(const char* name);
  XmlOut& Attr(const char* name, const std::string& value);
  XmlOut& Text(const std::string& text);
  XmlOut& Close();
  // <name>text</name>
  XmlOut& Element(const char* name, const std::string& text) {
    return Open(name).Text(text).Close();
  }
  // The document, every element closed; empty when the library failed.
  std::string Finish();

 private:
  struct Writer;
  Writer* m_writer;
  bool m_ok = true;
};

}  // namespace inkbrite

// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/xml_out.h"

#include <libxml/xmlwriter.h>

namespace inkbrite {

namespace {
const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }
}  // namespace

struct XmlOut::Writer {
  xmlBufferPtr buffer = nullptr;
  xmlTextWriterPtr writer = nullptr;
};

XmlOut::XmlOut() : m_writer(new Writer) {
  m_writer->buffer = xmlBufferCreate();
  if (m_writer->buffer != nullptr) m_writer->writer = xmlNewTextWriterMemory(m_writer->buffer, 0);
  m_ok = m_writer->writer != nullptr && xmlTextWriterSetIndent(m_writer->writer, 1) >= 0 &&
         xmlTextWriterStartDocument(m_writer->writer, "1.0", "UTF-8", nullptr) >= 0;
}

XmlOut::~XmlOut() {
  if (m_writer->writer != nullptr) xmlFreeTextWriter(m_writer->writer);
  if (m_writer->buffer != nullptr) xmlBufferFree(m_writer->buffer);
  delete m_writer;
}

XmlOut& XmlOut::Doctype(const char* name) {
  m_ok = m_ok && xmlTextWriterWriteDTD(m_writer->writer, X(name), nullptr, nullptr, nullptr) >= 0;
  return *this;
}

XmlOut& XmlOut::Pi(const char* target, const std::string& content) {
  m_ok = m_ok && xmlTextWriterWritePI(m_writer->writer, X(target), X(content.c_str())) >= 0;
  return *this;
}

XmlOut& XmlOut::Open(const char* name) {
  m_ok = m_ok && xmlTextWriterStartElement(m_writer->writer, X(name)) >= 0;
  return *this;
}

XmlOut& XmlOut::Attr(const char* name, const std::string& value) {
  m_ok = m_ok && xmlTextWriterWriteAttribute(m_writer->writer, X(name), X(value.c_str())) >= 0;
  return *this;
}

XmlOut& XmlOut::Text(const std::string& text) {
  m_ok = m_ok && xmlTextWriterWriteString(m_writer->writer, X(text.c_str())) >= 0;
  return *this;
}

XmlOut& XmlOut::Close() {
  m_ok = m_ok && xmlTextWriterEndElement(m_writer->writer) >= 0;
  return *this;
}

std::string XmlOut::Finish() {
  m_ok = m_ok && xmlTextWriterEndDocument(m_writer->writer) >= 0;
  if (m_writer->writer != nullptr) {
    xmlFreeTextWriter(m_writer->writer);  // flushes into the buffer
    m_writer->writer = nullptr;
  }
  if (!m_ok || m_writer->buffer == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(xmlBufferContent(m_writer->buffer)),
                     static_cast<size_t>(xmlBufferLength(m_writer->buffer)));
}

}  // namespace inkbrite

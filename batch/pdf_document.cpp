// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/pdf_document.h"

// qpdf 11: no PointerHolder in our code.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <exception>

namespace inkbrite {

namespace {

using Object = QPDFObjectHandle;

Object PictureObject(QPDF& pdf, PdfPicturePage& page) {
  Object dict = Object::newDictionary();
  dict.replaceKey("/Type", Object::newName("/XObject"));
  dict.replaceKey("/Subtype", Object::newName("/Image"));
  dict.replaceKey("/Width", Object::newInteger(page.width));
  dict.replaceKey("/Height", Object::newInteger(page.height));
  const Object base = Object::newName(page.grey ? "/DeviceGray" : "/DeviceRGB");
  const size_t entryBytes = page.grey ? 1 : 3;
  if (page.palette.empty()) {
    dict.replaceKey("/ColorSpace", base);
  } else {
    const int highest = static_cast<int>(page.palette.size() / entryBytes) - 1;
    dict.replaceKey("/ColorSpace", Object::newArray({Object::newName("/Indexed"), base,
                                                     Object::newInteger(highest),
                                                     Object::newString(page.palette)}));
  }
  dict.replaceKey("/BitsPerComponent", Object::newInteger(page.bits));
  Object image = pdf.newStream();
  image.replaceDict(dict);
  Object parameters = Object::newNull();
  if (page.pngRows) {
    parameters = Object::newDictionary();
    parameters.replaceKey("/Predictor", Object::newInteger(15));
    const bool oneSample = page.grey || !page.palette.empty();
    parameters.replaceKey("/Colors", Object::newInteger(oneSample ? 1 : 3));
    parameters.replaceKey("/BitsPerComponent", Object::newInteger(page.bits));
    parameters.replaceKey("/Columns", Object::newInteger(page.width));
  }
  image.replaceStreamData(page.bytes, Object::newName(page.jpeg ? "/DCTDecode" : "/FlateDecode"),
                          parameters);
  page.bytes.clear();
  page.bytes.shrink_to_fit();
  return image;
}

Object PageObject(QPDF& pdf, PdfPicturePage& page) {
  const Object image = PictureObject(pdf, page);
  std::string draw = "q ";
  draw += std::to_string(page.widthPoints);
  draw += " 0 0 ";
  draw += std::to_string(page.heightPoints);
  draw += " 0 0 cm /Im0 Do Q\n";
  Object xobjects = Object::newDictionary();
  xobjects.replaceKey("/Im0", image);
  Object resources = Object::newDictionary();
  resources.replaceKey("/XObject", xobjects);
  Object dict = Object::newDictionary();
  dict.replaceKey("/Type", Object::newName("/Page"));
  dict.replaceKey("/MediaBox", Object::newArray({Object::newInteger(0), Object::newInteger(0),
                                                 Object::newReal(page.widthPoints, 4),
                                                 Object::newReal(page.heightPoints, 4)}));
  dict.replaceKey("/Resources", resources);
  dict.replaceKey("/Contents", pdf.newStream(draw));
  return pdf.makeIndirectObject(dict);
}

void AddInfo(QPDF& pdf, const PdfDocumentInfo& info) {
  Object dict = Object::newDictionary();
  auto text = [&dict](const char* key, const std::string& value) {
    if (!value.empty()) dict.replaceKey(key, Object::newUnicodeString(value));
  };
  text("/Title", info.title);
  text("/Author", info.author);
  text("/Subject", info.subject);
  text("/Keywords", info.keywords);
  text("/Creator", "Inkbrite");
  text("/Producer", "Inkbrite");
  dict.replaceKey("/CreationDate", Object::newString(info.date));
  dict.replaceKey("/ModDate", Object::newString(info.date));
  pdf.getTrailer().replaceKey("/Info", pdf.makeIndirectObject(dict));
  Object root = pdf.getRoot();
  Object xmp = pdf.newStream(info.xmp);
  xmp.getDict().replaceKey("/Type", Object::newName("/Metadata"));
  xmp.getDict().replaceKey("/Subtype", Object::newName("/XML"));
  root.replaceKey("/Metadata", xmp);
  if (!info.language.empty()) root.replaceKey("/Lang", Object::newUnicodeString(info.language));
  if (info.rightToLeft) {
    Object prefs = Object::newDictionary();
    prefs.replaceKey("/Direction", Object::newName("/R2L"));
    root.replaceKey("/ViewerPreferences", prefs);
  }
}

}  // namespace

bool WritePdfDocument(std::vector<PdfPicturePage>& pages, const PdfDocumentInfo& info,
                      const std::string& name, std::FILE* file) {
  try {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFPageDocumentHelper helper(pdf);
    for (PdfPicturePage& page : pages) helper.addPage(PageObject(pdf, page), false);
    pages.clear();
    AddInfo(pdf, info);
    QPDFWriter writer(pdf);
    writer.setOutputFile(name.c_str(), file, false);
    writer.setDeterministicID(true);
    writer.setDecodeLevel(qpdf_dl_none);  // the pages' streams go in as they are
    writer.write();
    return std::ferror(file) == 0;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace inkbrite

// EMF to SVG with libemf2svg.
//
// The converter's SVG namespace prefix stays unset: with a prefix the
// library leaks a copy of it on every call. Its output buffer is ours to
// free, also when it reports a failure after writing part of a document.
#include <emf2svg.h>

#include <climits>
#include <cstdlib>

#include "formats/metafile/metafile_pvt.h"

namespace inkbrite::metafile {

bool EmfToSvg(const uint8_t* data, size_t size, PictureSize pictureSize, std::string& svg) {
  if (data == nullptr || size == 0 || size > static_cast<size_t>(INT32_MAX)) return false;
  generatorOptions options = {};
  options.nameSpace = nullptr;
  options.verbose = false;
  options.emfplus = true;
  options.svgDelimiter = true;
  options.imgWidth = pictureSize.width;
  options.imgHeight = pictureSize.height;

  // The converter only reads the buffer.
  char* out = nullptr;
  size_t outLength = 0;
  const int converted = emf2svg(reinterpret_cast<char*>(const_cast<uint8_t*>(data)), size, &out,
                                &outLength, &options);
  bool ok = converted != 0 && out != nullptr && outLength > 0;
  if (ok) {
    try {
      svg.assign(out, outLength);
    } catch (...) {
      ok = false;
    }
  }
  std::free(out);
  return ok;
}

}  // namespace inkbrite::metafile

// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/srgb_convert.h"

#include <lcms2.h>

#include <memory>

namespace inkbrite {

namespace {

struct ProfileCloser {
  void operator()(void* p) const { cmsCloseProfile(p); }
};
struct TransformDeleter {
  void operator()(void* t) const { cmsDeleteTransform(t); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;
using Transform = std::unique_ptr<void, TransformDeleter>;
struct CurveFree {
  void operator()(cmsToneCurve* c) const { cmsFreeToneCurve(c); }
};
using Curve = std::unique_ptr<cmsToneCurve, CurveFree>;

// The sRGB tone curve: IEC 61966-2-1 as lcms2's parametric type 4.
Curve SrgbCurve() {
  const cmsFloat64Number p[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
  return Curve(cmsBuildParametricToneCurve(nullptr, 4, p));
}

// Grey with the sRGB tone curve and D65 white.
Profile SrgbGreyProfile() {
  Curve curve = SrgbCurve();
  if (!curve) return nullptr;
  return Profile(cmsCreateGrayProfile(cmsD50_xyY(), curve.get()));
}

cmsUInt32Number LcmsFormat(const DecodedSamples& s, bool grey) {
  const int bytes = s.bytesPerSample;
  if (grey) {
    return s.channels == 2 ? (bytes == 1 ? TYPE_GRAYA_8 : TYPE_GRAYA_16)
                           : (bytes == 1 ? TYPE_GRAY_8 : TYPE_GRAY_16);
  }
  return s.channels == 4 ? (bytes == 1 ? TYPE_RGBA_8 : TYPE_RGBA_16)
                         : (bytes == 1 ? TYPE_RGB_8 : TYPE_RGB_16);
}

bool Apply(cmsHPROFILE from, const DecodedSamples& s) {
  if (s.data == nullptr || s.width <= 0 || s.height <= 0 || s.channels < 1 || s.channels > 4) {
    return false;
  }
  const bool grey = s.channels <= 2;
  const cmsColorSpaceSignature space = cmsGetColorSpace(from);
  if (space != (grey ? cmsSigGrayData : cmsSigRgbData)) return false;
  Profile to(grey ? SrgbGreyProfile().release() : cmsCreate_sRGBProfile());
  if (!to) return false;
  const cmsUInt32Number format = LcmsFormat(s, grey);
  const bool alpha = s.channels == 2 || s.channels == 4;
  Transform t(cmsCreateTransform(from, format, to.get(), format, INTENT_RELATIVE_COLORIMETRIC,
                                 alpha ? cmsFLAGS_COPY_ALPHA : 0));
  if (!t) return false;
  // In place: every row is read before it is written.
  auto* data = const_cast<uint8_t*>(s.data);
  const auto stride = static_cast<cmsUInt32Number>(s.rowBytes);
  cmsDoTransformLineStride(t.get(), data, data, static_cast<cmsUInt32Number>(s.width),
                           static_cast<cmsUInt32Number>(s.height), stride, stride, 0, 0);
  return true;
}

}  // namespace

bool ConvertIccToSrgb(const uint8_t* icc, size_t iccSize, const DecodedSamples& samples) {
  if (icc == nullptr || iccSize == 0 || iccSize > 0xFFFFFFFFu) return false;
  Profile from(cmsOpenProfileFromMem(icc, static_cast<cmsUInt32Number>(iccSize)));
  return from && Apply(from.get(), samples);
}

bool ConvertGammaToSrgb(double gamma, const DecodedSamples& samples) {
  Curve curve(cmsBuildGamma(nullptr, gamma));
  if (!curve) return false;
  Profile from;
  if (samples.channels <= 2) {
    from.reset(cmsCreateGrayProfile(cmsD50_xyY(), curve.get()));
  } else {
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
    from.reset(cmsCreateRGBProfile(&white, &primaries, curves));
  }
  return from && Apply(from.get(), samples);
}

}  // namespace inkbrite

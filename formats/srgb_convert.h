// SPDX-License-Identifier: GPL-2.0-or-later
// Bringing decoded samples into sRGB when a file says they are in another
// colour space (an ICC profile, or a pure power-law transfer curve), over
// lcms2, relative colorimetric. Grey stays grey: a grey profile is mapped to
// grey with the sRGB tone curve. Alpha samples are left as they are.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/decoded_samples.h"

namespace inkbrite {

// Converts the samples in place (the caller owns them: `samples.data` is
// written through). False, with the samples unchanged, when the profile
// cannot be read, does not describe the samples' colour model (a CMYK
// profile for RGB samples), or no transform can be built: the caller then
// shows the samples as they are.
bool ConvertIccToSrgb(const uint8_t* icc, size_t iccSize, const DecodedSamples& samples);

// The same for samples coded with a pure power-law transfer (value =
// linear^(1/gamma), gamma 2.2 or 2.8 as some AV1 files say) on the sRGB
// primaries and white point.
bool ConvertGammaToSrgb(double gamma, const DecodedSamples& samples);

}  // namespace inkbrite

// SPDX-License-Identifier: GPL-2.0-or-later
#include "learned/waifu2x.h"

#include <cstdlib>

namespace inkbrite::learned {

namespace fs = std::filesystem;

std::string NetworkFileName(Waifu2xModel model, int noise, int scale) {
  if (noise < -1 || noise > 3 || (scale != 1 && scale != 2)) return {};
  if (scale == 1 && noise < 0) return {};
  const std::string level = noise < 0 ? "off" : "noise" + std::to_string(noise);
  if (scale == 1) return "cunet-" + level + "-1x.ibnet";
  return (model == Waifu2xModel::kCunet ? "cunet-" : "upconv_7-") + level + "-2x.ibnet";
}

fs::path ModelsFolder(const fs::path& exeFolder) {
  const char* env = std::getenv("INKBRITE_MODELS_DIR");
  if (env != nullptr && *env != '\0') return env;
  if (exeFolder.empty()) return {};
  const fs::path candidates[] = {
      exeFolder.parent_path() / "models" / "waifu2x",
      exeFolder.parent_path().parent_path() / "share" / "inkbrite" / "models" / "waifu2x",
      exeFolder.parent_path() / "share" / "inkbrite" / "models" / "waifu2x",
  };
  std::error_code ec;
  for (const fs::path& c : candidates) {
    if (fs::exists(c / "upconv_7-off-2x.ibnet", ec)) return c;
  }
  return {};
}

bool RunWaifu2x(const fs::path& folder, Waifu2xModel model, int noise, int scale, int threads,
                const PixelRows& in, const PixelRows& out, std::string* why) {
  const std::string name = NetworkFileName(model, noise, scale);
  if (name.empty() || folder.empty()) {
    if (why != nullptr) *why = name.empty() ? "no network for that choice" : "no models folder";
    return false;
  }
  Net net;
  if (!LoadNetFile(folder / name, net, why)) return false;
  if (net.scale != scale) {
    if (why != nullptr) *why = name + " is not a network of that scale";
    return false;
  }
  SetLearnedThreads(threads);
  NetRunner runner(net);
  return RunNetOnPicture(runner, net, in, out, 160, why);
}

}  // namespace inkbrite::learned

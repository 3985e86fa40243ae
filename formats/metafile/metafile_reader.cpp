// SPDX-License-Identifier: GPL-2.0-or-later
// The metafile reader of the programs: the file's bytes handed to the
// metafile module (metafile_module.h), loaded at the first metafile read.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "core/limits.h"
#include "formats/metafile/metafile_codec.h"
#include "formats/metafile/metafile_module.h"
#include "platform/loaded_module.h"
#include "platform/program_paths.h"
#include "platform/read_status.h"

namespace inkbrite {

namespace {

// A metafile is a list of small drawing records; anything near this size is
// not one we can draw in reasonable time.
constexpr uint64_t kMaxMetafileBytes = uint64_t{256} << 20;

constexpr const char kModuleFile[] = "libinkbrite-metafile.so";

// The module's table once loaded and found sound; null when it cannot be
// (the reason in `error`). Loaded once per run, at the first call.
struct ModuleState {
  const InkbriteMetafileModule* table = nullptr;
  std::filesystem::path path;
  std::string error;
};

ModuleState LoadMetafileModule() {
  ModuleState state;
  state.path = MetafileModulePath();
  if (state.path.empty()) {
    state.error = std::string(kModuleFile) + " not found";
    return state;
  }
  void* module = LoadModule(state.path, state.error);
  if (module == nullptr) return state;
  const auto entry =
      reinterpret_cast<InkbriteMetafileModuleEntry>(ModuleSymbol(module, kMetafileModuleEntry));
  const InkbriteMetafileModule* table = entry != nullptr ? entry() : nullptr;
  if (table == nullptr || table->version != kMetafileModuleVersion ||
      table->size < sizeof(InkbriteMetafileModule) || table->draw == nullptr) {
    state.error = "not a metafile module of this version";
    return state;
  }
  state.table = table;
  return state;
}

std::mutex g_moduleMutex;
bool g_moduleTried = false;
ModuleState g_module;

const InkbriteMetafileModule* MetafileModule() {
  const std::lock_guard lock(g_moduleMutex);
  if (!g_moduleTried) {
    g_module = LoadMetafileModule();
    g_moduleTried = true;
  }
  return g_module.table;
}

uint8_t* MakeDibPicture(void* owner, int32_t width, int32_t height, ptrdiff_t* rowStep) {
  auto* picture = static_cast<DibImage*>(owner);
  try {
    if (picture == nullptr || rowStep == nullptr || !picture->Create(width, height, 24)) {
      return nullptr;
    }
  } catch (const std::exception&) {
    // Nothing may leave this function: the module's frames are below it.
    return nullptr;
  }
  // Rows are stored bottom up.
  *rowStep = -static_cast<ptrdiff_t>(picture->RowBytes());
  return picture->Row(0);
}

// The module's reason as a ReadError; an unknown number is damage.
ReadError ModuleReason(int error) {
  for (const ReadErrorRow& row : kReadErrors) {
    if (static_cast<int>(row.error) == error && row.error != ReadError::kNone) return row.error;
  }
  return ReadError::kDamaged;
}

}  // namespace

std::filesystem::path MetafileModulePath() {
  if (const char* fromEnvironment = std::getenv("INKBRITE_METAFILE_MODULE");
      fromEnvironment != nullptr && *fromEnvironment != '\0') {
    return fromEnvironment;
  }
  const std::filesystem::path exeFolder = ExecutableFolder();
  if (exeFolder.empty()) return {};
  // Beside the program (a build tree), else where an installation keeps it:
  // <prefix>/lib/<multiarch>/inkbrite, for a program in <prefix>/bin or in
  // <prefix>/libexec/inkbrite.
  const std::filesystem::path installed = std::filesystem::path(INKBRITE_MODULE_DIR) / kModuleFile;
  for (const std::filesystem::path& candidate :
       {exeFolder / kModuleFile, (exeFolder / ".." / installed).lexically_normal(),
        (exeFolder / ".." / ".." / installed).lexically_normal()}) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
  }
  return {};
}

bool MetafileModuleLoaded() {
  const std::lock_guard lock(g_moduleMutex);
  return g_module.table != nullptr;
}

std::string MetafileModuleError() {
  const std::lock_guard lock(g_moduleMutex);
  return g_module.error;
}

InkbriteMetafileCanvas CanvasFor(DibImage& picture) { return {&picture, MakeDibPicture}; }

int metafile::ReadPictureWithin(const uint8_t* data, size_t size, DibImage& image, int* greySource,
                                std::chrono::milliseconds budget) {
  const InkbriteMetafileModule* module = MetafileModule();
  if (module == nullptr) {
    NoteReadFailure(ReadError::kNoReaderModule);
    return 0;
  }
  if (data == nullptr) return 0;
  DibImage picture;
  const InkbriteMetafileCanvas canvas = CanvasFor(picture);
  int error = 0;
  if (module->draw(data, size, budget.count(), &canvas, &error) == 0) {
    NoteReadFailure(ModuleReason(error));
    return 0;
  }
  image = std::move(picture);
  if (greySource != nullptr) *greySource = 0;
  return 1;
}

int ReadPictureMemory(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  return metafile::ReadPictureWithin(data, size, image, greySource,
                                     std::chrono::seconds(kMaxMetafilePlaySeconds));
}

int ReadPictureFile(const std::filesystem::path& path, DibImage& image, int* greySource) {
  FileProbe file(path);
  return ReadPictureFile(file, image, greySource);
}

int ReadPictureFile(FileProbe& file, DibImage& image, int* greySource) {
  try {
    std::vector<uint8_t> bytes;
    if (!file.ReadAll(kMaxMetafileBytes, bytes) || bytes.empty()) return 0;
    return ReadPictureMemory(bytes.data(), bytes.size(), image, greySource);
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace inkbrite

// SPDX-License-Identifier: GPL-2.0-or-later
#include "learned/net_file.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string_view>

namespace inkbrite::learned {

namespace {

constexpr char kMagic[] = "IBNET001";
constexpr size_t kMagicBytes = 8;
constexpr int kMaxDepth = 6;
constexpr size_t kMaxElements = 1u << 16;
constexpr size_t kMaxString = 256;

// A JSON value: just what the header needs, built by a parser that bounds
// its depth, its strings and its element count.
struct Json {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject } type = Type::kNull;
  double number = 0;
  std::string text;
  std::vector<Json> items;        // an array's, or an object's values
  std::vector<std::string> keys;  // an object's keys, one for each item

  const Json* Find(std::string_view key) const {
    for (size_t i = 0; i < keys.size(); ++i) {
      if (keys[i] == key) return &items[i];
    }
    return nullptr;
  }
};

class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : text_(text) {}

  bool ParseDocument(Json& out) {
    if (!Parse(out, 0)) return false;
    SkipSpace();
    return at_ == text_.size();
  }

 private:
  void SkipSpace() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t')) {
      ++at_;
    }
  }
  bool Take(char c) {
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool Word(std::string_view w) {
    if (text_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }

  bool ParseString(std::string& out) {
    if (!Take('"')) return false;
    while (at_ < text_.size() && text_[at_] != '"') {
      char c = text_[at_++];
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c == '\\') {
        if (at_ >= text_.size()) return false;
        const char e = text_[at_++];
        if (e != '"' && e != '\\' && e != '/') return false;  // names need no more
        c = e;
      }
      if (out.size() >= kMaxString) return false;
      out.push_back(c);
    }
    return Take('"');
  }

  bool ParseNumber(double& out) {
    const size_t start = at_;
    while (at_ < text_.size() && std::strchr("+-0123456789.eE", text_[at_]) != nullptr &&
           text_[at_] != '\0' && at_ - start < 32) {
      ++at_;
    }
    if (at_ == start) return false;
    const std::string digits(text_.substr(start, at_ - start));
    char* end = nullptr;
    out = std::strtod(digits.c_str(), &end);
    return end == digits.c_str() + digits.size() && std::isfinite(out);
  }

  bool Count() { return ++elements_ <= kMaxElements; }

  bool ParseArray(Json& out, int depth) {
    out.type = Json::Type::kArray;
    if (Take(']')) return true;
    do {
      if (!Count()) return false;
      out.items.emplace_back();
      if (!Parse(out.items.back(), depth + 1)) return false;
    } while (Take(','));
    return Take(']');
  }

  bool ParseObject(Json& out, int depth) {
    out.type = Json::Type::kObject;
    if (Take('}')) return true;
    do {
      if (!Count()) return false;
      out.keys.emplace_back();
      out.items.emplace_back();
      SkipSpace();
      if (!ParseString(out.keys.back()) || !Take(':') || !Parse(out.items.back(), depth + 1)) {
        return false;
      }
    } while (Take(','));
    return Take('}');
  }

  bool Parse(Json& out, int depth) {
    if (depth > kMaxDepth) return false;
    SkipSpace();
    if (at_ >= text_.size()) return false;
    const char c = text_[at_];
    if (c == '{') return ++at_, ParseObject(out, depth);
    if (c == '[') return ++at_, ParseArray(out, depth);
    if (c == '"') return out.type = Json::Type::kString, ParseString(out.text);
    if (Word("null")) return true;
    if (Word("true") || Word("false")) {
      out.type = Json::Type::kBool;
      out.number = text_[at_ - 1] == 'e' && text_[at_ - 2] == 'u' ? 1 : 0;
      return true;
    }
    out.type = Json::Type::kNumber;
    return ParseNumber(out.number);
  }

  std::string_view text_;
  size_t at_ = 0;
  size_t elements_ = 0;
};

// Reads the layers of a parsed header into `net`, checking every field.
class HeaderReader {
 public:
  HeaderReader(Net& net, std::string& why) : net_(net), why_(why) {}

  bool Read(const Json& header, size_t floatsInFile);

 private:
  bool Fail(const std::string& reason) {
    why_ = reason;
    return false;
  }
  bool Int(const Json& object, std::string_view key, int low, int high, int& out) {
    const Json* v = object.Find(key);
    if (v == nullptr || v->type != Json::Type::kNumber || v->number != std::floor(v->number) ||
        v->number < low || v->number > high) {
      return Fail("field \"" + std::string(key) + "\" missing or out of range");
    }
    out = static_cast<int>(v->number);
    return true;
  }
  bool Tensor(const Json& object, std::string_view key, size_t count, bool optional, size_t& out);
  bool Blob(const Json& name, int& out) {
    if (name.type != Json::Type::kString) return Fail("a blob name is not a string");
    const auto found = blobs_.find(name.text);
    if (found == blobs_.end()) return Fail("blob \"" + name.text + "\" is used before it is made");
    out = found->second;
    return true;
  }
  bool NewBlob(const Json* name, int channels, bool vector, int& out) {
    if (name == nullptr || name->type != Json::Type::kString || name->text.empty()) {
      return Fail("a layer's output has no name");
    }
    if (!blobs_.emplace(name->text, static_cast<int>(net_.blobChannels.size())).second) {
      return Fail("blob \"" + name->text + "\" is made twice");
    }
    out = static_cast<int>(net_.blobChannels.size());
    net_.blobChannels.push_back(channels);
    net_.blobIsVector.push_back(vector);
    return true;
  }
  bool ReadActivation(const Json& object, NetLayer& layer);
  bool ReadInputs(const Json& object, NetLayer& layer, bool two);
  bool ReadWeighted(const Json& object, NetLayer& layer);
  bool ReadLayer(const Json& object);

  Net& net_;
  std::string& why_;
  std::map<std::string, int> blobs_;
  size_t floats_ = 0;
};

bool HeaderReader::Tensor(const Json& object, std::string_view key, size_t count, bool optional,
                          size_t& out) {
  const Json* v = object.Find(key);
  if (v == nullptr || v->type != Json::Type::kNumber || v->number != std::floor(v->number)) {
    return Fail("tensor \"" + std::string(key) + "\" missing");
  }
  if (optional && v->number == -1) {
    out = kNoTensor;
    return true;
  }
  if (v->number < 0 || v->number > static_cast<double>(floats_) ||
      count > floats_ - static_cast<size_t>(v->number)) {
    return Fail("tensor \"" + std::string(key) + "\" lies outside the weights");
  }
  out = static_cast<size_t>(v->number);
  return true;
}

bool HeaderReader::ReadActivation(const Json& object, NetLayer& layer) {
  const Json* act = object.Find("act");
  if (act == nullptr || act->type != Json::Type::kString) return Fail("a layer has no act");
  if (act->text == "none")
    layer.act = Activation::kNone;
  else if (act->text == "relu")
    layer.act = Activation::kRelu;
  else if (act->text == "sigmoid")
    layer.act = Activation::kSigmoid;
  else if (act->text == "leaky")
    layer.act = Activation::kLeaky;
  else
    return Fail("activation \"" + act->text + "\" is not known");
  if (layer.act != Activation::kLeaky) return true;
  const Json* slope = object.Find("slope");
  if (slope == nullptr || slope->type != Json::Type::kNumber || std::fabs(slope->number) > 1) {
    return Fail("a leaky activation's slope is missing or out of range");
  }
  layer.slope = static_cast<float>(slope->number);
  return true;
}

bool HeaderReader::ReadInputs(const Json& object, NetLayer& layer, bool two) {
  const Json* inputs = object.Find("inputs");
  if (inputs == nullptr || inputs->type != Json::Type::kArray ||
      inputs->items.size() != (two ? 2u : 1u)) {
    return Fail("a layer has the wrong number of inputs");
  }
  if (!Blob(inputs->items[0], layer.input)) return false;
  return !two || Blob(inputs->items[1], layer.input2);
}

// conv, deconv and dense: sizes, then the tensors they need.
bool HeaderReader::ReadWeighted(const Json& object, NetLayer& layer) {
  if (!Int(object, "in", 1, kMaxNetChannels, layer.in) ||
      !Int(object, "out", 1, kMaxNetChannels, layer.out) || !ReadActivation(object, layer)) {
    return false;
  }
  const bool dense = layer.kind == LayerKind::kDense;
  if (net_.blobChannels[layer.input] != layer.in || net_.blobIsVector[layer.input] != dense) {
    return Fail("a layer's input does not have the channels it takes");
  }
  if (!dense && (!Int(object, "kernel", 1, kMaxNetKernel, layer.kernel) ||
                 !Int(object, "stride", 1, kMaxNetStride, layer.stride) ||
                 !Int(object, "pad", 0, layer.kernel - 1, layer.pad))) {
    return false;
  }
  const size_t count = static_cast<size_t>(layer.in) * static_cast<size_t>(layer.out) *
                       static_cast<size_t>(layer.kernel * layer.kernel);
  return Tensor(object, "weights", count, false, layer.weights) &&
         Tensor(object, "bias", static_cast<size_t>(layer.out), true, layer.bias);
}

bool HeaderReader::ReadLayer(const Json& object) {
  if (object.type != Json::Type::kObject) return Fail("a layer is not an object");
  const Json* type = object.Find("type");
  if (type == nullptr || type->type != Json::Type::kString) return Fail("a layer has no type");
  static const std::pair<std::string_view, LayerKind> kKinds[] = {
      {"conv", LayerKind::kConv}, {"deconv", LayerKind::kDeconv}, {"dense", LayerKind::kDense},
      {"mean", LayerKind::kMean}, {"scale", LayerKind::kScale},   {"crop", LayerKind::kCrop},
      {"add", LayerKind::kAdd},   {"prelu", LayerKind::kPrelu}};
  NetLayer layer;
  bool known = false;
  for (const auto& [name, kind] : kKinds) {
    if (type->text == name) layer.kind = kind, known = true;
  }
  if (!known) return Fail("layer type \"" + type->text + "\" is not known");
  const LayerKind k = layer.kind;
  const bool two = k == LayerKind::kScale || k == LayerKind::kCrop || k == LayerKind::kAdd;
  if (!ReadInputs(object, layer, two)) return false;
  const int channels = net_.blobChannels[layer.input];
  const bool vector = net_.blobIsVector[layer.input];
  int outChannels = channels;
  if (k == LayerKind::kConv || k == LayerKind::kDeconv || k == LayerKind::kDense) {
    if (!ReadWeighted(object, layer)) return false;
    outChannels = layer.out;
  } else if (vector) {
    return Fail("a layer that takes a picture is given a vector");
  } else if (k == LayerKind::kCrop) {
    if (!Int(object, "x", 0, kMaxNetMargin, layer.cropX) ||
        !Int(object, "y", 0, kMaxNetMargin, layer.cropY)) {
      return false;
    }
  } else if (k == LayerKind::kPrelu) {
    int count = 0;
    if (!Int(object, "count", 1, kMaxNetChannels, count) || (count != 1 && count != channels) ||
        !Tensor(object, "slopes", static_cast<size_t>(count), false, layer.weights)) {
      return Fail("a prelu layer's slopes do not fit its input");
    }
    layer.in = count;
  }
  if (k == LayerKind::kScale &&
      (!net_.blobIsVector[layer.input2] || net_.blobChannels[layer.input2] != channels)) {
    return Fail("a scale layer's factors do not fit its input");
  }
  if ((k == LayerKind::kAdd || k == LayerKind::kCrop) && net_.blobIsVector[layer.input2]) {
    return Fail("an add or crop layer is given a vector");
  }
  if (k == LayerKind::kAdd && net_.blobChannels[layer.input2] != channels) {
    return Fail("an add layer's inputs differ in channels");
  }
  const bool outVector = k == LayerKind::kDense || k == LayerKind::kMean;
  if (!NewBlob(object.Find("output"), outChannels, outVector, layer.output)) return false;
  net_.layers.push_back(layer);
  return true;
}

bool HeaderReader::Read(const Json& header, size_t floatsInFile) {
  if (header.type != Json::Type::kObject) return Fail("the header is not an object");
  int floats = 0;
  if (!Int(header, "floats", 0, static_cast<int>(kMaxNetFileBytes / 4), floats)) return false;
  if (static_cast<size_t>(floats) != floatsInFile) {
    return Fail("the header's float count does not match the file");
  }
  floats_ = floatsInFile;
  const Json* name = header.Find("name");
  const Json* input = header.Find("input");
  const Json* output = header.Find("output");
  const Json* layers = header.Find("layers");
  if (name == nullptr || name->type != Json::Type::kString || input == nullptr ||
      output == nullptr || output->type != Json::Type::kString || layers == nullptr ||
      layers->type != Json::Type::kArray || layers->items.empty() ||
      layers->items.size() > kMaxNetLayers) {
    return Fail("the header lacks a name, an input, an output or layers");
  }
  net_.name = name->text;
  if (!Int(header, "scale", 1, 2, net_.scale) || !Int(header, "noise", -1, 3, net_.noise) ||
      !Int(header, "margin", 0, kMaxNetMargin, net_.margin) ||
      !NewBlob(input, 3, false, net_.inputBlob)) {
    return false;
  }
  for (const Json& layer : layers->items) {
    if (!ReadLayer(layer)) return false;
  }
  if (!Blob(*output, net_.outputBlob)) return false;
  if (net_.blobChannels[net_.outputBlob] != 3 || net_.blobIsVector[net_.outputBlob]) {
    return Fail("the output is not a picture of 3 channels");
  }
  return true;
}

uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

bool ReadNetFileInto(std::span<const uint8_t> bytes, Net& net, std::string& why) {
  if (bytes.size() > kMaxNetFileBytes) return why = "the file is too large", false;
  if (bytes.size() < kMagicBytes + 4 || std::memcmp(bytes.data(), kMagic, kMagicBytes) != 0) {
    return why = "not a network file", false;
  }
  const size_t headerBytes = ReadLe32(bytes.data() + kMagicBytes);
  const size_t start = kMagicBytes + 4;
  if (headerBytes > kMaxNetHeaderBytes || headerBytes > bytes.size() - start) {
    return why = "the header is longer than the file", false;
  }
  const size_t data = start + (headerBytes + 3) / 4 * 4;
  if (data > bytes.size() || (bytes.size() - data) % 4 != 0) {
    return why = "the weights are not whole float32 values", false;
  }
  Json header;
  const std::string_view text(reinterpret_cast<const char*>(bytes.data() + start), headerBytes);
  if (!JsonParser(text).ParseDocument(header)) return why = "the header is not sound JSON", false;
  const size_t floats = (bytes.size() - data) / 4;
  if (!HeaderReader(net, why).Read(header, floats)) return false;
  net.floats.resize(floats);
  for (size_t i = 0; i < floats; ++i) {
    const uint32_t bits = ReadLe32(bytes.data() + data + i * 4);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) return why = "a weight is not a finite number", false;
    net.floats[i] = value;
  }
  return true;
}

}  // namespace

bool ReadNetFile(std::span<const uint8_t> bytes, Net& net, std::string* why) {
  std::string reason;
  net = Net{};
  if (ReadNetFileInto(bytes, net, reason)) return true;
  net = Net{};
  if (why != nullptr) *why = reason;
  return false;
}

bool LoadNetFile(const std::filesystem::path& path, Net& net, std::string* why) {
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxNetFileBytes) {
    if (why != nullptr) *why = ec ? "cannot read " + path.string() : "the file is too large";
    return false;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  std::ifstream in(path, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
    if (why != nullptr) *why = "cannot read " + path.string();
    return false;
  }
  return ReadNetFile(bytes, net, why);
}

namespace {

using Size = BlobSize;
constexpr int kMaxBlobSide = 1 << 20;

bool LayerSize(const NetLayer& l, const std::vector<Size>& sizes, Size& out) {
  const Size in = sizes[static_cast<size_t>(l.input)];
  switch (l.kind) {
    case LayerKind::kConv: {
      const int w = in.w + 2 * l.pad - l.kernel, h = in.h + 2 * l.pad - l.kernel;
      if (w < 0 || h < 0 || w % l.stride != 0 || h % l.stride != 0) return false;
      out = {w / l.stride + 1, h / l.stride + 1};
      return true;
    }
    case LayerKind::kDeconv:
      if (in.w > kMaxBlobSide / kMaxNetStride || in.h > kMaxBlobSide / kMaxNetStride) return false;
      out = {(in.w - 1) * l.stride + l.kernel - 2 * l.pad,
             (in.h - 1) * l.stride + l.kernel - 2 * l.pad};
      return out.w > 0 && out.h > 0;
    case LayerKind::kDense:
    case LayerKind::kMean: out = {1, 1}; return true;
    case LayerKind::kCrop: {
      const Size to = sizes[static_cast<size_t>(l.input2)];
      out = to;
      return l.cropX + to.w <= in.w && l.cropY + to.h <= in.h;
    }
    case LayerKind::kAdd: {
      const Size other = sizes[static_cast<size_t>(l.input2)];
      out = in;
      return other.w == in.w && other.h == in.h;
    }
    case LayerKind::kScale:
    case LayerKind::kPrelu: out = in; return true;
  }
  return false;
}

}  // namespace

bool NetBlobSizes(const Net& net, int w, int h, std::vector<BlobSize>& sizes) {
  if (w < 1 || h < 1 || w > 65535 || h > 65535 || net.layers.empty()) return false;
  sizes.assign(net.blobChannels.size(), Size{});
  sizes[static_cast<size_t>(net.inputBlob)] = {w, h};
  for (const NetLayer& l : net.layers) {
    if (!LayerSize(l, sizes, sizes[static_cast<size_t>(l.output)])) return false;
  }
  return true;
}

bool NetOutputSize(const Net& net, int w, int h, int& outW, int& outH) {
  std::vector<Size> sizes;
  if (!NetBlobSizes(net, w, h, sizes)) return false;
  outW = sizes[static_cast<size_t>(net.outputBlob)].w;
  outH = sizes[static_cast<size_t>(net.outputBlob)].h;
  return true;
}

}  // namespace inkbrite::learned

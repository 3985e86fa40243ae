// SPDX-License-Identifier: GPL-2.0-or-later
#include "learned/net_run.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <oneapi/dnnl/dnnl.hpp>

namespace inkbrite::learned {

using dnnl::memory;
using Tag = memory::format_tag;
using Dt = memory::data_type;

void SetLearnedThreads(int threads) { omp_set_num_threads(std::max(1, threads)); }

namespace {

dnnl::engine& Engine() {
  static dnnl::engine engine(dnnl::engine::kind::cpu, 0);
  return engine;
}

dnnl::algorithm EltwiseOf(Activation act) {
  switch (act) {
    case Activation::kRelu:
    case Activation::kLeaky: return dnnl::algorithm::eltwise_relu;
    case Activation::kSigmoid: return dnnl::algorithm::eltwise_logistic;
    case Activation::kNone: break;
  }
  return dnnl::algorithm::undef;
}

float Activate(Activation act, float slope, float v) {
  switch (act) {
    case Activation::kRelu: return v > 0 ? v : 0;
    case Activation::kLeaky: return v > 0 ? v : v * slope;
    case Activation::kSigmoid: return 1 / (1 + std::exp(-v));
    case Activation::kNone: break;
  }
  return v;
}

}  // namespace

// One input size's primitives: a convolution or deconvolution per weighted
// picture layer, its weights already in the layout it wants.
struct NetRunner::Plan {
  struct Step {
    dnnl::primitive primitive;
    memory::desc src, dst;
    memory weights, bias;
  };
  std::vector<BlobSize> sizes;
  std::vector<Step> steps;      // per layer; empty primitive for the plain layers
  std::vector<size_t> lastUse;  // per blob: the last layer that reads it
};

namespace {

memory::desc PlainDesc(int channels, BlobSize size) {
  return memory::desc({1, channels, size.h, size.w}, Dt::f32, Tag::nchw);
}

// A convolution or deconvolution primitive for layer `l` at these sizes.
NetRunner::Plan::Step MakeStep(const Net& net, const NetLayer& l, BlobSize in, BlobSize out,
                               dnnl::stream& stream) {
  const memory::dims kernel{l.out, l.in, l.kernel, l.kernel};
  const memory::desc src({1, l.in, in.h, in.w}, Dt::f32, Tag::any);
  const memory::desc dst({1, l.out, out.h, out.w}, Dt::f32, Tag::any);
  const memory::desc weights(kernel, Dt::f32, Tag::any);
  const memory::desc bias({l.out}, Dt::f32, Tag::x);
  const memory::dims strides{l.stride, l.stride}, pad{l.pad, l.pad};
  dnnl::primitive_attr attr;
  if (l.act != Activation::kNone) {
    dnnl::post_ops ops;
    ops.append_eltwise(1.0f, EltwiseOf(l.act), l.act == Activation::kLeaky ? l.slope : 0.f, 0.f);
    attr.set_post_ops(ops);
  }
  NetRunner::Plan::Step step;
  memory::desc weightsDesc;
  const auto prop = dnnl::prop_kind::forward_inference;
  if (l.kind == LayerKind::kConv) {
    const dnnl::convolution_forward::desc d(prop, dnnl::algorithm::convolution_direct, src, weights,
                                            bias, dst, strides, pad, pad);
    const dnnl::convolution_forward::primitive_desc pd(d, attr, Engine());
    step.primitive = dnnl::convolution_forward(pd);
    step.src = pd.src_desc(), step.dst = pd.dst_desc(), weightsDesc = pd.weights_desc();
  } else {
    const dnnl::deconvolution_forward::desc d(prop, dnnl::algorithm::deconvolution_direct, src,
                                              weights, bias, dst, strides, pad, pad);
    const dnnl::deconvolution_forward::primitive_desc pd(d, attr, Engine());
    step.primitive = dnnl::deconvolution_forward(pd);
    step.src = pd.src_desc(), step.dst = pd.dst_desc(), weightsDesc = pd.weights_desc();
  }
  // The file's tensors are out x in x k x k, which is oneDNN's oihw for both.
  float* w = const_cast<float*>(net.floats.data() + l.weights);
  memory plainWeights({kernel, Dt::f32, Tag::oihw}, Engine(), w);
  step.weights = memory(weightsDesc, Engine());
  dnnl::reorder(plainWeights, step.weights).execute(stream, plainWeights, step.weights);
  step.bias = memory(bias, Engine());
  float* b = static_cast<float*>(step.bias.get_data_handle());
  for (int i = 0; i < l.out; ++i) b[i] = l.bias == kNoTensor ? 0.f : net.floats[l.bias + i];
  return step;
}

// What the runner holds of one blob while a run goes: a picture in some
// layout, or a vector of channel values.
struct Value {
  memory picture;
  std::vector<float> vector;
};

class Execution {
 public:
  Execution(const Net& net, NetRunner::Plan& plan)
      : net_(net), plan_(plan), stream_(Engine()), values_(net.blobChannels.size()) {}

  bool Run(const float* planes, std::vector<float>& out, int& outW, int& outH);

 private:
  memory Plain(int blob) {
    memory& m = values_[static_cast<size_t>(blob)].picture;
    const memory::desc want = PlainDesc(net_.blobChannels[static_cast<size_t>(blob)],
                                        plan_.sizes[static_cast<size_t>(blob)]);
    if (m.get_desc() == want) return m;
    memory plain(want, Engine());
    dnnl::reorder(m, plain).execute(stream_, m, plain);
    m = plain;  // later readers take the plain copy
    return plain;
  }
  memory NewPlain(int blob) {
    return memory(PlainDesc(net_.blobChannels[static_cast<size_t>(blob)],
                            plan_.sizes[static_cast<size_t>(blob)]),
                  Engine());
  }
  void Weighted(size_t i);
  void PlainLayer(const NetLayer& l);

  const Net& net_;
  NetRunner::Plan& plan_;
  dnnl::stream stream_;
  std::vector<Value> values_;
};

void Execution::Weighted(size_t i) {
  const NetLayer& l = net_.layers[i];
  NetRunner::Plan::Step& step = plan_.steps[i];
  memory src = values_[static_cast<size_t>(l.input)].picture;
  if (src.get_desc() != step.src) {
    memory converted(step.src, Engine());
    dnnl::reorder(src, converted).execute(stream_, src, converted);
    src = converted;
  }
  memory dst(step.dst, Engine());
  step.primitive.execute(stream_, {{DNNL_ARG_SRC, src},
                                   {DNNL_ARG_WEIGHTS, step.weights},
                                   {DNNL_ARG_BIAS, step.bias},
                                   {DNNL_ARG_DST, dst}});
  values_[static_cast<size_t>(l.output)].picture = dst;
}

void Execution::PlainLayer(const NetLayer& l) {
  const size_t o = static_cast<size_t>(l.output);
  const std::vector<float>& f = net_.floats;
  if (l.kind == LayerKind::kDense) {
    const std::vector<float>& in = values_[static_cast<size_t>(l.input)].vector;
    std::vector<float>& v = values_[o].vector;
    v.assign(static_cast<size_t>(l.out), 0.f);
    for (int j = 0; j < l.out; ++j) {
      double sum = l.bias == kNoTensor ? 0 : f[l.bias + static_cast<size_t>(j)];
      const float* w = f.data() + l.weights + static_cast<size_t>(j) * static_cast<size_t>(l.in);
      for (int k = 0; k < l.in; ++k) sum += static_cast<double>(w[k]) * in[static_cast<size_t>(k)];
      v[static_cast<size_t>(j)] = Activate(l.act, l.slope, static_cast<float>(sum));
    }
    return;
  }
  const memory in = Plain(l.input);
  const BlobSize si = plan_.sizes[static_cast<size_t>(l.input)];
  const size_t area = static_cast<size_t>(si.w) * static_cast<size_t>(si.h);
  const int channels = net_.blobChannels[static_cast<size_t>(l.input)];
  const float* src = static_cast<const float*>(in.get_data_handle());
  if (l.kind == LayerKind::kMean) {
    std::vector<float>& v = values_[o].vector;
    v.assign(static_cast<size_t>(channels), 0.f);
    for (size_t c = 0; c < v.size(); ++c) {
      double sum = 0;
      for (size_t p = 0; p < area; ++p) sum += src[c * area + p];
      v[c] = static_cast<float>(sum / static_cast<double>(area));
    }
    return;
  }
  memory result = NewPlain(l.output);
  float* dst = static_cast<float*>(result.get_data_handle());
  if (l.kind == LayerKind::kCrop) {
    const BlobSize so = plan_.sizes[o];
    for (int c = 0; c < channels; ++c) {
      for (int y = 0; y < so.h; ++y) {
        const float* row = src + static_cast<size_t>(c) * area +
                           static_cast<size_t>(y + l.cropY) * static_cast<size_t>(si.w) + l.cropX;
        std::memcpy(dst + (static_cast<size_t>(c) * so.h + y) * so.w, row,
                    static_cast<size_t>(so.w) * sizeof(float));
      }
    }
  } else if (l.kind == LayerKind::kAdd) {
    const float* other = static_cast<const float*>(Plain(l.input2).get_data_handle());
    for (size_t p = 0; p < area * static_cast<size_t>(channels); ++p) dst[p] = src[p] + other[p];
  } else {  // scale or prelu: one factor a channel
    const std::vector<float>& scale =
        values_[static_cast<size_t>(l.input2 < 0 ? 0 : l.input2)].vector;
    for (int c = 0; c < channels; ++c) {
      const size_t cu = static_cast<size_t>(c);
      const float k = l.kind == LayerKind::kScale ? scale[cu] : f[l.weights + (l.in == 1 ? 0 : cu)];
      for (size_t p = cu * area; p < (cu + 1) * area; ++p) {
        dst[p] = l.kind == LayerKind::kScale ? src[p] * k : (src[p] > 0 ? src[p] : src[p] * k);
      }
    }
  }
  values_[o].picture = result;
}

bool Execution::Run(const float* planes, std::vector<float>& out, int& outW, int& outH) {
  const size_t input = static_cast<size_t>(net_.inputBlob);
  values_[input].picture = NewPlain(net_.inputBlob);
  const BlobSize si = plan_.sizes[input];
  std::memcpy(values_[input].picture.get_data_handle(), planes,
              static_cast<size_t>(si.w) * static_cast<size_t>(si.h) * 3 * sizeof(float));
  for (size_t i = 0; i < net_.layers.size(); ++i) {
    const NetLayer& l = net_.layers[i];
    if (l.kind == LayerKind::kConv || l.kind == LayerKind::kDeconv) {
      Weighted(i);
    } else {
      PlainLayer(l);
    }
    // A blob no later layer reads is let go, so a run holds few at once.
    for (const int b : {l.input, l.input2}) {
      if (b >= 0 && b != net_.outputBlob && plan_.lastUse[static_cast<size_t>(b)] == i) {
        values_[static_cast<size_t>(b)] = Value{};
      }
    }
  }
  const memory result = Plain(net_.outputBlob);
  stream_.wait();
  const BlobSize so = plan_.sizes[static_cast<size_t>(net_.outputBlob)];
  outW = so.w, outH = so.h;
  const float* p = static_cast<const float*>(result.get_data_handle());
  out.assign(p, p + static_cast<size_t>(so.w) * static_cast<size_t>(so.h) * 3);
  return true;
}

}  // namespace

NetRunner::NetRunner(const Net& net) : net_(net) {}
NetRunner::~NetRunner() = default;

NetRunner::Plan* NetRunner::PlanFor(int w, int h) {
  const auto key = std::make_pair(w, h);
  const auto found = plans_.find(key);
  if (found != plans_.end()) return found->second.get();
  auto plan = std::make_unique<Plan>();
  if (!NetBlobSizes(net_, w, h, plan->sizes)) return nullptr;
  dnnl::stream stream(Engine());
  plan->steps.resize(net_.layers.size());
  plan->lastUse.assign(net_.blobChannels.size(), 0);
  for (size_t i = 0; i < net_.layers.size(); ++i) {
    const NetLayer& l = net_.layers[i];
    plan->lastUse[static_cast<size_t>(l.input)] = i;
    if (l.input2 >= 0) plan->lastUse[static_cast<size_t>(l.input2)] = i;
    if (l.kind != LayerKind::kConv && l.kind != LayerKind::kDeconv) continue;
    plan->steps[i] = MakeStep(net_, l, plan->sizes[static_cast<size_t>(l.input)],
                              plan->sizes[static_cast<size_t>(l.output)], stream);
  }
  stream.wait();
  // A page's tiles come in a handful of sizes; a caller feeding many sizes
  // keeps only the latest few.
  if (plans_.size() >= 8) plans_.erase(plans_.begin());
  return plans_.emplace(key, std::move(plan)).first->second.get();
}

bool NetRunner::Run(const float* planes, int w, int h, std::vector<float>& out, int& outW,
                    int& outH, std::string* why) {
  try {
    Plan* plan = PlanFor(w, h);
    if (plan == nullptr) {
      if (why != nullptr) *why = "the network cannot take that size";
      return false;
    }
    return Execution(net_, *plan).Run(planes, out, outW, outH);
  } catch (const std::exception& e) {  // dnnl::error, std::bad_alloc
    if (why != nullptr) *why = e.what();
    return false;
  }
}

double NetRunner::ConvolutionMacs(int w, int h) const {
  std::vector<BlobSize> sizes;
  if (!NetBlobSizes(net_, w, h, sizes)) return 0;
  double macs = 0;
  for (const NetLayer& l : net_.layers) {
    if (l.kind != LayerKind::kConv && l.kind != LayerKind::kDeconv) continue;
    // A deconvolution scatters each input pixel over the whole kernel.
    const BlobSize at = sizes[static_cast<size_t>(l.kind == LayerKind::kConv ? l.output : l.input)];
    macs += static_cast<double>(at.w) * at.h * l.in * l.out * l.kernel * l.kernel;
  }
  return macs;
}

}  // namespace inkbrite::learned

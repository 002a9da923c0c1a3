#include "tools/sentence_models/sentence_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>

namespace talvori {
namespace {

constexpr std::uint64_t kFileVersion = 1;
constexpr std::size_t kAlignment = 256;
constexpr std::uint64_t kShortlistMagic = 0xF11A48D5013417F5ULL;

// Activations reach the int8 products quantised with a fixed multiplier per matrix ("alpha").
// Layer normalisation keeps them near unit variance, so a range of six covers nearly all.
constexpr float kActivationMultiplier = 127.0f / 6.0f;
// Standard deviation of the embeddings: with the engine's scaling by the square root of the
// width, token embeddings come out near unit size, like the positions added to them.
constexpr float kEmbeddingDeviation = 0.05f;
// Uniform integers in [-127, 127] have this standard deviation.
const float kInt8Deviation = 127.0f / std::sqrt(3.0f);

template <typename T>
void append(std::string& out, const T& value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void padTo(std::string& out, std::size_t alignment) {
  out.append((alignment - out.size() % alignment) % alignment, '\0');
}

// Each item draws from its own generator, seeded from the model's seed and the item's name (by
// FNV-1a, the same on every platform), so an item's values do not depend on which other items
// the model has.
std::mt19937_64 generatorFor(std::uint64_t seed, const std::string& name) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (unsigned char c : name) hash = (hash ^ c) * 0x100000001b3ULL;
  std::seed_seq sequence{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                         static_cast<std::uint32_t>(hash), static_cast<std::uint32_t>(hash >> 32)};
  return std::mt19937_64(sequence);
}

// Draws mapped by hand rather than by the standard distributions, whose algorithms each
// standard library chooses: the same seed gives the same model everywhere.
float uniform(std::mt19937_64& generator, float low, float high) {
  const double unit = static_cast<double>(generator() >> 11) * 0x1.0p-53;
  return low + static_cast<float>(unit) * (high - low);
}

std::int64_t elements(const std::vector<std::int32_t>& shape) {
  std::int64_t count = 1;
  for (std::int32_t dim : shape) count *= dim;
  return count;
}

class ItemMaker {
 public:
  explicit ItemMaker(const RandomWeights& weights) : weights_(weights) {}

  std::vector<ModelItem> take() { return std::move(items_); }

  // A weight matrix of `rows` x `cols` quantised to int8, followed by its multiplier, and the
  // multiplier of the activations it is applied to. The format stores the matrix transposed;
  // the values are independent draws, so drawing them in stored order is the same thing.
  void matrix(const std::string& name, int rows, int cols) {
    const float deviation = std::sqrt(2.0f / static_cast<float>(rows + cols));
    quantised(name, {rows, cols}, kInt8Deviation / deviation);
    scalar(name + "_QuantMultA", kActivationMultiplier);
  }

  // An embedding matrix: int8 and its multiplier, not transposed.
  void embedding(const std::string& name, int rows, int cols) {
    quantised(name, {rows, cols}, kInt8Deviation / kEmbeddingDeviation);
  }

  void scalar(const std::string& name, float value) {
    std::string bytes;
    append(bytes, value);
    items_.push_back({name, ItemType::kFloat32, {1}, std::move(bytes)});
  }

  // A row vector of `size` floats drawn uniformly from [centre - spread, centre + spread].
  void vector(const std::string& name, int size, float centre, float spread) {
    std::mt19937_64 generator = generatorFor(weights_.seed, name);
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(size) * sizeof(float));
    for (int i = 0; i < size; ++i)
      append(bytes, uniform(generator, centre - spread, centre + spread));
    items_.push_back({name, ItemType::kFloat32, {1, size}, std::move(bytes)});
  }

  void text(const std::string& name, const std::string& value) {
    std::string bytes = value;
    bytes.push_back('\0');
    items_.push_back(
        {name, ItemType::kInt8, {static_cast<std::int32_t>(bytes.size())}, std::move(bytes)});
  }

  // The output bias, with the end-of-sentence adjustment, and rows past the vocabulary made
  // impossible to choose (they have no piece to print).
  void outputBias(const std::string& name, int rows, int pieces) {
    vector(name, rows, 0.0f, 0.05f);
    float* bias = reinterpret_cast<float*>(items_.back().bytes.data());
    bias[0] += weights_.endOfSentenceBias;
    for (int i = pieces; i < rows; ++i) bias[i] = -1.0e4f;
  }

  // Self-attention or context attention, and the normalisation after it.
  void attention(const std::string& prefix, int dim) {
    for (const char* part : {"q", "k", "v", "o"}) {
      matrix(prefix + "_W" + part, dim, dim);
      vector(prefix + "_b" + part, dim, 0.0f, 0.05f);
    }
    normalisation(prefix + "_Wo", dim);
  }

  void feedForward(const std::string& prefix, int dim, int dimFfn) {
    matrix(prefix + "_W1", dim, dimFfn);
    vector(prefix + "_b1", dimFfn, 0.0f, 0.05f);
    matrix(prefix + "_W2", dimFfn, dim);
    vector(prefix + "_b2", dim, 0.0f, 0.05f);
    normalisation(prefix + "_ffn", dim);
  }

  // A decoder layer's recurrent cell: a candidate matrix and a forget gate with its bias.
  void recurrentCell(const std::string& prefix, int dim) {
    matrix(prefix + "_W", dim, dim);
    matrix(prefix + "_Wf", dim, dim);
    vector(prefix + "_bf", dim, 0.0f, 0.05f);
    normalisation(prefix + "_ffn", dim);
  }

 private:
  void normalisation(const std::string& prefix, int dim) {
    vector(prefix + "_ln_scale", dim, 1.0f, 0.05f);
    vector(prefix + "_ln_bias", dim, 0.0f, 0.05f);
  }

  void quantised(const std::string& name, std::vector<std::int32_t> shape, float multiplier) {
    std::mt19937_64 generator = generatorFor(weights_.seed, name);
    const std::int64_t count = elements(shape);
    std::string bytes(static_cast<std::size_t>(count), '\0');
    for (std::int64_t i = 0; i < count; i += 8) {
      std::uint64_t draw = generator();
      for (std::int64_t j = i; j < std::min(count, i + 8); ++j, draw >>= 8) {
        const auto value = static_cast<std::int8_t>(draw & 0xFF);
        bytes[static_cast<std::size_t>(j)] = static_cast<char>(value == -128 ? -127 : value);
      }
    }
    append(bytes, multiplier);
    items_.push_back({name, ItemType::kIntgemm8, std::move(shape), std::move(bytes)});
  }

  const RandomWeights& weights_;
  std::vector<ModelItem> items_;
};

void check(const ModelShape& shape) {
  const bool positive = shape.sourceRows > 0 && shape.targetRows > 0 && shape.targetPieces > 0 &&
                        shape.dimEmb > 0 && shape.dimFfn > 0 && shape.heads > 0 &&
                        shape.encoderLayers > 0 && shape.decoderLayers > 0;
  if (!positive) throw std::invalid_argument("every size must be positive");
  if (shape.dimEmb % shape.heads != 0) {
    throw std::invalid_argument("the embedding width must be a multiple of the heads");
  }
  // The engine's int8 products work on blocks of eight columns.
  if (shape.dimEmb % 8 != 0 || shape.dimFfn % 8 != 0 || shape.targetRows % 8 != 0) {
    throw std::invalid_argument("widths and output rows must be multiples of 8");
  }
  if (shape.targetPieces > shape.targetRows) {
    throw std::invalid_argument("the target vocabulary has more pieces than the model has rows");
  }
  if (shape.sharedVocabulary && shape.sourceRows != shape.targetRows) {
    throw std::invalid_argument("a shared vocabulary has one number of rows");
  }
}

}  // namespace

std::string modelConfig(const ModelShape& shape) {
  const auto flag = [](bool value) { return value ? "true" : "false"; };
  std::string config;
  config += "bert-train-type-embeddings: true\n";
  config += "bert-type-vocab-size: 2\n";
  config += "dec-cell: ssru\n";
  config += "dec-cell-base-depth: 2\n";
  config += "dec-cell-high-depth: 1\n";
  config += "dec-depth: " + std::to_string(shape.decoderLayers) + "\n";
  config += "dim-emb: " + std::to_string(shape.dimEmb) + "\n";
  config += "dim-rnn: 1024\n";
  config += "dim-vocabs:\n  - " + std::to_string(shape.sourceRows) + "\n  - " +
            std::to_string(shape.targetRows) + "\n";
  config += "enc-cell: gru\n";
  config += "enc-cell-depth: 1\n";
  config += "enc-depth: " + std::to_string(shape.encoderLayers) + "\n";
  config += "enc-type: bidirectional\n";
  config += "factors-combine: sum\n";
  config += "factors-dim-emb: 0\n";
  config += "input-types:\n  []\n";
  config += "layer-normalization: false\n";
  config += "lemma-dependency: \"\"\n";
  config += "lemma-dim-emb: 0\n";
  config += "output-omit-bias: false\n";
  config += "right-left: false\n";
  config += "skip: false\n";
  config += std::string("tied-embeddings: ") + flag(!shape.sharedVocabulary) + "\n";
  config += std::string("tied-embeddings-all: ") + flag(shape.sharedVocabulary) + "\n";
  config += "tied-embeddings-src: false\n";
  config += "transformer-aan-activation: swish\n";
  config += "transformer-aan-depth: 2\n";
  config += "transformer-aan-nogate: false\n";
  config += "transformer-decoder-autoreg: rnn\n";
  config += "transformer-decoder-dim-ffn: 0\n";
  config += "transformer-decoder-ffn-depth: 0\n";
  config += "transformer-dim-aan: 2048\n";
  config += "transformer-dim-ffn: " + std::to_string(shape.dimFfn) + "\n";
  config += "transformer-ffn-activation: relu\n";
  config += "transformer-ffn-depth: 2\n";
  config += "transformer-guided-alignment-layer: last\n";
  config += "transformer-heads: " + std::to_string(shape.heads) + "\n";
  config += "transformer-no-affine: false\n";
  config += "transformer-no-bias: false\n";
  config += "transformer-no-projection: false\n";
  config += "transformer-pool: false\n";
  config += "transformer-postprocess: dan\n";
  config += "transformer-postprocess-emb: d\n";
  config += "transformer-postprocess-top: \"\"\n";
  config += "transformer-preprocess: \"\"\n";
  config += "transformer-rnn-projection: false\n";
  config += "transformer-tied-layers:\n  []\n";
  config += "transformer-train-position-embeddings: false\n";
  config += "type: transformer\n";
  config += "ulr: false\n";
  config += "ulr-dim-emb: 0\n";
  config += "ulr-trainable-transformation: false\n";
  config += "version: v1.12.14 synthetic\n";
  return config;
}

std::vector<ModelItem> makeModelItems(const ModelShape& shape, const RandomWeights& weights) {
  check(shape);
  const int dim = shape.dimEmb;
  ItemMaker maker(weights);
  if (shape.sharedVocabulary) {
    maker.embedding("Wemb", shape.sourceRows, dim);
    // The tied output layer looks its activation multiplier up under both names.
    maker.scalar("Wemb_QuantMultA", kActivationMultiplier);
    maker.scalar("none_QuantMultA", kActivationMultiplier);
  } else {
    maker.embedding("encoder_Wemb", shape.sourceRows, dim);
    maker.embedding("decoder_Wemb", shape.targetRows, dim);
    maker.scalar("decoder_Wemb_QuantMultA", kActivationMultiplier);
  }
  for (int layer = 1; layer <= shape.encoderLayers; ++layer) {
    const std::string prefix = "encoder_l" + std::to_string(layer);
    maker.attention(prefix + "_self", dim);
    maker.feedForward(prefix + "_ffn", dim, shape.dimFfn);
  }
  for (int layer = 1; layer <= shape.decoderLayers; ++layer) {
    const std::string prefix = "decoder_l" + std::to_string(layer);
    maker.recurrentCell(prefix + "_rnn", dim);
    maker.attention(prefix + "_context", dim);
    maker.feedForward(prefix + "_ffn", dim, shape.dimFfn);
  }
  maker.outputBias("decoder_ff_logit_out_b", shape.targetRows, shape.targetPieces);
  maker.text("special:model.yml", modelConfig(shape));

  std::vector<ModelItem> items = maker.take();
  std::sort(items.begin(), items.end(),
            [](const ModelItem& a, const ModelItem& b) { return a.name < b.name; });
  return items;
}

std::string serialiseModel(const std::vector<ModelItem>& items) {
  std::string out;
  append(out, kFileVersion);
  append(out, static_cast<std::uint64_t>(items.size()));
  for (const ModelItem& item : items) {
    append(out, static_cast<std::uint64_t>(item.name.size() + 1));
    append(out, static_cast<std::uint64_t>(item.type));
    append(out, static_cast<std::uint64_t>(item.shape.size()));
    const std::size_t padded = (item.bytes.size() + kAlignment - 1) / kAlignment * kAlignment;
    append(out, static_cast<std::uint64_t>(padded));
  }
  for (const ModelItem& item : items) out.append(item.name.c_str(), item.name.size() + 1);
  for (const ModelItem& item : items) {
    for (std::int32_t dim : item.shape) append(out, dim);
  }
  // The padding count itself comes first, then the zeros that end the header on a boundary.
  const std::size_t afterCount = out.size() + sizeof(std::uint64_t);
  const std::uint64_t padding = (kAlignment - afterCount % kAlignment) % kAlignment;
  append(out, padding);
  out.append(padding, '\0');
  for (const ModelItem& item : items) {
    out += item.bytes;
    padTo(out, kAlignment);
  }
  return out;
}

std::string makeShortlist(int sourcePieces, int targetPieces, int first, int best,
                          std::uint64_t seed) {
  if (sourcePieces <= 0 || targetPieces <= first || first < 0 || best <= 0 ||
      best > targetPieces - first) {
    throw std::invalid_argument("a shortlist needs more target pieces than it lists");
  }
  // Each source id lists `best` distinct target ids, ascending, drawn from those past `first`.
  std::mt19937_64 generator = generatorFor(seed, "shortlist");
  std::vector<std::uint64_t> offsets;
  std::vector<std::uint32_t> targets;
  std::vector<std::uint32_t> pool(static_cast<std::size_t>(targetPieces - first));
  for (std::size_t i = 0; i < pool.size(); ++i) pool[i] = static_cast<std::uint32_t>(first + i);
  for (int source = 0; source < sourcePieces; ++source) {
    offsets.push_back(targets.size());
    for (std::size_t i = 0; i < static_cast<std::size_t>(best); ++i) {
      // A partial shuffle picks `best` without repeats.
      std::swap(pool[i], pool[i + generator() % (pool.size() - i)]);
    }
    std::vector<std::uint32_t> chosen(pool.begin(), pool.begin() + best);
    std::sort(chosen.begin(), chosen.end());
    targets.insert(targets.end(), chosen.begin(), chosen.end());
  }
  offsets.push_back(targets.size());

  std::string body;  // everything the checksum covers: from the limits to the end
  append(body, static_cast<std::uint64_t>(first));
  append(body, static_cast<std::uint64_t>(best));
  append(body, static_cast<std::uint64_t>(offsets.size()));
  append(body, static_cast<std::uint64_t>(targets.size()));
  for (std::uint64_t offset : offsets) append(body, offset);
  for (std::uint32_t target : targets) append(body, target);

  // The checksum combines each whole 64-bit word of the body in turn, as the engine's loader
  // does when asked to check.
  std::uint64_t checksum = 0;
  for (std::size_t i = 0; i + sizeof(std::uint64_t) <= body.size(); i += sizeof(std::uint64_t)) {
    std::uint64_t word;
    std::memcpy(&word, body.data() + i, sizeof word);
    checksum ^= word + 0x9e3779b9 + (checksum << 6) + (checksum >> 2);
  }
  std::string out;
  append(out, kShortlistMagic);
  append(out, checksum);
  return out + body;
}

}  // namespace talvori

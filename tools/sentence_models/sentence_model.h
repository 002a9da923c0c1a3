// Synthetic translation models for tests and benchmarks: random weights in the sentence engine's
// binary model format, with the tensor inventory and shapes of a real transformer whose decoder
// uses SSRU cells, and a binary lexical shortlist to go with them.
//
// Everything here is deterministic for a given seed. Functions throw std::invalid_argument for
// shapes that cannot describe a model. Any thread; nothing is shared.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talvori {

// The architecture of one translation direction.
struct ModelShape {
  // One vocabulary for both sides and one embedding matrix ("Wemb") for the encoder, the decoder
  // and the output layer; otherwise "encoder_Wemb" and "decoder_Wemb", the output layer tied to
  // the decoder's.
  bool sharedVocabulary = true;
  int sourceRows = 64000;    // embedding rows: at least the source vocabulary's pieces
  int targetRows = 64000;    // output rows: at least the target vocabulary's pieces
  int targetPieces = 64000;  // pieces of the target vocabulary; rows past it are never emitted
  int dimEmb = 384;
  int dimFfn = 1536;
  int heads = 8;
  int encoderLayers = 6;
  int decoderLayers = 4;
};

// Element types of the format, as stored in each item's header.
enum class ItemType : std::uint64_t {
  kInt8 = 0x0101,
  kFloat32 = 0x0404,
  kIntgemm8 = 0x4101,
};

// One named tensor as written to the file: `bytes` is the payload before alignment padding.
struct ModelItem {
  std::string name;
  ItemType type;
  std::vector<std::int32_t> shape;
  std::string bytes;
};

struct RandomWeights {
  std::uint64_t seed = 1;
  // Added to the output bias of id 0 (end of sentence); a large negative value keeps decoding
  // going to the engine's length limit, which gives outputs of predictable length.
  float endOfSentenceBias = 0.0f;
};

// The model's configuration text, as the engine reads it from the item "special:model.yml".
std::string modelConfig(const ModelShape& shape);

// All items of a model of `shape`, sorted by name, including the configuration item.
std::vector<ModelItem> makeModelItems(const ModelShape& shape, const RandomWeights& weights);

// The file: a header (version, item count, per item name length, type, rank and payload size),
// the names, the shapes, padding to a 256-byte boundary, then the payloads, each padded to 256.
std::string serialiseModel(const std::vector<ModelItem>& items);

// A binary shortlist giving every source id `best` target ids below `targetPieces`, after the
// `first` most frequent target ids that the engine always adds.
std::string makeShortlist(int sourcePieces, int targetPieces, int first, int best,
                          std::uint64_t seed);

}  // namespace talvori

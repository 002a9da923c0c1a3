// Writes a synthetic translation model (random weights, real format and shapes) and optionally
// its binary shortlist, for tests and benchmarks of the sentence engine.
//
//   make_sentence_model --model FILE [--shortlist FILE] [options]
//
//   --vocabulary shared|separate   one vocabulary and one embedding matrix for both sides, or
//                                  one each (default shared)
//   --source-pieces N, --target-pieces N
//                                  pieces of the vocabularies (required; equal when shared)
//   --rows N                       embedding and output rows of each side (default: the pieces
//                                  rounded up to a multiple of 8); rows past the target
//                                  vocabulary get an output bias that keeps them unused
//   --dim-emb N --dim-ffn N --heads N --encoder-layers N --decoder-layers N
//                                  the architecture (default 384, 1536, 8, 6, 4)
//   --seed N                       random seed (default 1)
//   --eos-bias X                   added to the output bias of the end-of-sentence id
//   --shortlist-first N --shortlist-best N
//                                  the shortlist's limits (default 50 and 50)
//   --damage truncate|shape|missing|shortlist
//                                  write a broken file instead: the model cut at 60% of its
//                                  length, one matrix with a wrong shape, one matrix left out,
//                                  or a shortlist naming target ids past the vocabulary
//
// Files are written beside their destination and renamed over it.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tools/sentence_models/sentence_model.h"

namespace {

using talvori::ModelItem;
using talvori::ModelShape;

int toInt(const std::string& option, const std::string& text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw std::invalid_argument(option + " wants a whole number, not '" + text + "'");
  }
  return value;
}

void writeFile(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::path partial = path;
  partial += ".partial";
  {
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file.flush()) throw std::runtime_error("cannot write " + partial.string());
  }
  std::filesystem::rename(partial, path);
}

// Makes `name` one column wider than it should be, keeping its payload consistent with the
// shape (int8 values, then the multiplier), so only the shape is wrong.
void widen(std::vector<ModelItem>& items, const std::string& name) {
  for (ModelItem& item : items) {
    if (item.name != name) continue;
    const std::string multiplier = item.bytes.substr(item.bytes.size() - sizeof(float));
    item.shape.back() += 8;
    std::size_t count = 1;
    for (std::int32_t dim : item.shape) count *= static_cast<std::size_t>(dim);
    item.bytes.resize(count, '\x01');
    item.bytes += multiplier;
    return;
  }
  throw std::logic_error(name + " is not in the model");
}

int run(int argc, char** argv) {
  std::map<std::string, std::string> options;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option.rfind("--", 0) != 0 || i + 1 == argc) {
      throw std::invalid_argument("expected --option value pairs, got '" + option + "'");
    }
    options[option] = argv[++i];
  }
  const auto take = [&](const std::string& option, const std::string& fallback) {
    const auto found = options.find(option);
    if (found == options.end()) return fallback;
    std::string value = found->second;
    options.erase(found);
    return value;
  };

  const std::string modelPath = take("--model", "");
  const std::string shortlistPath = take("--shortlist", "");
  const std::string vocabulary = take("--vocabulary", "shared");
  const int sourcePieces = toInt("--source-pieces", take("--source-pieces", "0"));
  const int targetPieces = toInt("--target-pieces", take("--target-pieces", "0"));
  const std::string rows = take("--rows", "");
  ModelShape shape;
  shape.dimEmb = toInt("--dim-emb", take("--dim-emb", "384"));
  shape.dimFfn = toInt("--dim-ffn", take("--dim-ffn", "1536"));
  shape.heads = toInt("--heads", take("--heads", "8"));
  shape.encoderLayers = toInt("--encoder-layers", take("--encoder-layers", "6"));
  shape.decoderLayers = toInt("--decoder-layers", take("--decoder-layers", "4"));
  talvori::RandomWeights weights;
  weights.seed = static_cast<std::uint64_t>(toInt("--seed", take("--seed", "1")));
  weights.endOfSentenceBias = std::stof(take("--eos-bias", "0"));
  const int first = toInt("--shortlist-first", take("--shortlist-first", "50"));
  const int best = toInt("--shortlist-best", take("--shortlist-best", "50"));
  const std::string damage = take("--damage", "");
  if (!options.empty()) throw std::invalid_argument("unknown option " + options.begin()->first);
  if (modelPath.empty()) throw std::invalid_argument("--model is required");
  if (vocabulary != "shared" && vocabulary != "separate") {
    throw std::invalid_argument("--vocabulary is shared or separate");
  }
  if (sourcePieces <= 0 || targetPieces <= 0) {
    throw std::invalid_argument("--source-pieces and --target-pieces are required");
  }
  if (vocabulary == "shared" && sourcePieces != targetPieces) {
    throw std::invalid_argument("a shared vocabulary has one number of pieces");
  }

  const auto roundUp = [](int pieces) { return (pieces + 7) / 8 * 8; };
  shape.sharedVocabulary = vocabulary == "shared";
  shape.sourceRows = rows.empty() ? roundUp(sourcePieces) : toInt("--rows", rows);
  shape.targetRows = rows.empty() ? roundUp(targetPieces) : toInt("--rows", rows);
  shape.targetPieces = targetPieces;
  if (shape.sourceRows < sourcePieces) {
    throw std::invalid_argument("the source vocabulary has more pieces than the model has rows");
  }

  std::vector<ModelItem> items = talvori::makeModelItems(shape, weights);
  if (damage == "shape") {
    widen(items, "encoder_l1_self_Wq");
  } else if (damage == "missing") {
    std::erase_if(items, [](const ModelItem& item) { return item.name == "decoder_l1_rnn_Wf"; });
  } else if (!damage.empty() && damage != "truncate" && damage != "shortlist") {
    throw std::invalid_argument("--damage is truncate, shape, missing or shortlist");
  }
  std::string model = talvori::serialiseModel(items);
  if (damage == "truncate") model.resize(model.size() * 6 / 10);
  writeFile(modelPath, model);

  if (!shortlistPath.empty()) {
    const int listed = damage == "shortlist" ? targetPieces + 64 : targetPieces;
    writeFile(shortlistPath,
              talvori::makeShortlist(sourcePieces, listed, first, best, weights.seed));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "make_sentence_model: " << error.what() << "\n";
    return 2;
  }
}

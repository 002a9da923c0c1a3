// The model manifest: which files each sentence direction downloads, and from where. It is data,
// read from `talvori/models.json`, so that an administrator's mirror (or a test) can supply its
// own. Reading never fails loudly: what is wrong in a manifest only makes directions not
// downloadable. Plain values, usable from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sentences/sentence_direction.h"

namespace talvori {

// The manifest's file name under `talvori/` in a data directory.
inline constexpr std::string_view kModelManifestName = "models.json";

// What a file is to the engine, from the part of its name before the first dot.
enum class ModelRole { model, vocab, srcvocab, trgvocab, lex };

// The role of a model folder's file named `name`; none for other names, for names that start
// with a dot (temporaries) and for names that are not a plain file name.
std::optional<ModelRole> modelFileRole(std::string_view name);

// Whether files of these roles make a model the engine loads: one model, either one vocabulary
// or one source and one target vocabulary, and at most one shortlist.
bool formsModel(const std::vector<ModelRole>& roles);

// One file to download.
struct ModelFile {
  std::string name;    // the installed file's name, e.g. model.zhen.intgemm.alphas.bin
  std::string url;     // http or https
  std::string sha256;  // of the bytes downloaded, lower-case hexadecimal
  std::uint64_t size;  // of the bytes downloaded
  bool gzip;           // whether the bytes downloaded are decompressed with gzip to be installed
};

// One JSON object keyed by direction name ("zh-Hans>en", "en>zh-Hans"); each direction holds
// "files", a list of objects with "name", "url", "sha256", "size" and "gzip" as in ModelFile.
// Unknown directions and unknown members are ignored.
class ModelManifest {
 public:
  // Nothing to download.
  ModelManifest() = default;

  // The manifest in `json`. A text that is not a JSON object gives an empty manifest. A direction
  // with a file that lacks a member, has one of the wrong type or value (a name that is not a
  // plain model file name, a URL that is not http or https, a digest that is not 64 hexadecimal
  // digits, a size of 0), names a file twice, or whose files do not form a model, is left out.
  static ModelManifest parse(std::string_view json);

  // The first of `paths` that exists, read whole; an empty manifest when none exists or that one
  // cannot be read.
  static ModelManifest find(const std::vector<std::filesystem::path>& paths);

  // The files of `direction`, shortlist and vocabularies before the model (an install that stops
  // half-way then leaves no model without its vocabularies), or none when it has none.
  const std::vector<ModelFile>* files(SentenceDirection direction) const;

 private:
  std::map<SentenceDirection, std::vector<ModelFile>> directions_;
};

}  // namespace talvori

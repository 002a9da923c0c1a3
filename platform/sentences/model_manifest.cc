#include "platform/sentences/model_manifest.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <utility>

#include <nlohmann/json.hpp>

namespace talvori {

namespace {

using Json = nlohmann::json;

// Longer names would leave no room for a temporary's prefix and suffix within a file name's 255
// bytes.
constexpr std::size_t kLongestName = 200;

bool isHexDigest(std::string_view text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
         });
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// An http or https URL with something after the scheme, and no white space or control bytes.
bool isWebUrl(std::string_view url) {
  std::size_t rest = 0;
  if (startsWithNoCase(url, "https://")) {
    rest = 8;
  } else if (startsWithNoCase(url, "http://")) {
    rest = 7;
  } else {
    return false;
  }
  return url.size() > rest && std::none_of(url.begin(), url.end(), [](char c) {
           return static_cast<unsigned char>(c) <= ' ' || c == '\x7f';
         });
}

std::optional<ModelFile> readFile(const Json& entry) {
  if (!entry.is_object()) return std::nullopt;
  const auto name = entry.find("name");
  const auto url = entry.find("url");
  const auto sha256 = entry.find("sha256");
  const auto size = entry.find("size");
  const auto gzip = entry.find("gzip");
  if (name == entry.end() || !name->is_string() || url == entry.end() || !url->is_string() ||
      sha256 == entry.end() || !sha256->is_string() || size == entry.end() ||
      !size->is_number_unsigned() || gzip == entry.end() || !gzip->is_boolean()) {
    return std::nullopt;
  }
  ModelFile file{name->get<std::string>(), url->get<std::string>(), sha256->get<std::string>(),
                 size->get<std::uint64_t>(), gzip->get<bool>()};
  if (!modelFileRole(file.name) || !isWebUrl(file.url) || !isHexDigest(file.sha256) ||
      file.size == 0) {
    return std::nullopt;
  }
  std::transform(file.sha256.begin(), file.sha256.end(), file.sha256.begin(), [](char c) {
    return c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return file;
}

// The direction's files in installing order, or none when any entry is wrong.
std::optional<std::vector<ModelFile>> readDirection(const Json& direction) {
  if (!direction.is_object()) return std::nullopt;
  const auto list = direction.find("files");
  if (list == direction.end() || !list->is_array()) return std::nullopt;
  std::vector<ModelFile> files;
  std::vector<ModelRole> roles;
  std::set<std::string> names;
  for (const Json& entry : *list) {
    std::optional<ModelFile> file = readFile(entry);
    if (!file || !names.insert(file->name).second) return std::nullopt;
    roles.push_back(*modelFileRole(file->name));
    files.push_back(std::move(*file));
  }
  if (!formsModel(roles)) return std::nullopt;
  // The model goes last: a folder holds a model only once everything else is in.
  std::stable_partition(files.begin(), files.end(), [](const ModelFile& file) {
    return modelFileRole(file.name) != ModelRole::model;
  });
  return files;
}

}  // namespace

std::optional<ModelRole> modelFileRole(std::string_view name) {
  if (name.empty() || name.size() > kLongestName || name.front() == '.' ||
      name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos) {
    return std::nullopt;
  }
  const std::string_view prefix = name.substr(0, name.find('.'));
  if (prefix.size() == name.size()) return std::nullopt;
  static constexpr std::pair<std::string_view, ModelRole> kRoles[] = {
      {"model", ModelRole::model},       {"vocab", ModelRole::vocab},
      {"srcvocab", ModelRole::srcvocab}, {"trgvocab", ModelRole::trgvocab},
      {"lex", ModelRole::lex},
  };
  for (const auto& [word, role] : kRoles) {
    if (prefix == word) return role;
  }
  return std::nullopt;
}

bool formsModel(const std::vector<ModelRole>& roles) {
  const auto count = [&roles](ModelRole role) {
    return std::count(roles.begin(), roles.end(), role);
  };
  const bool shared = count(ModelRole::vocab) == 1 && count(ModelRole::srcvocab) == 0 &&
                      count(ModelRole::trgvocab) == 0;
  const bool separate = count(ModelRole::vocab) == 0 && count(ModelRole::srcvocab) == 1 &&
                        count(ModelRole::trgvocab) == 1;
  return count(ModelRole::model) == 1 && count(ModelRole::lex) <= 1 && (shared || separate);
}

ModelManifest ModelManifest::parse(std::string_view json) {
  ModelManifest manifest;
  const Json document = Json::parse(json, nullptr, /*allow_exceptions=*/false);
  if (!document.is_object()) return manifest;
  for (const auto& [key, value] : document.items()) {
    const std::optional<SentenceDirection> direction = SentenceDirection::named(key);
    if (!direction) continue;
    if (auto files = readDirection(value)) manifest.directions_[*direction] = std::move(*files);
  }
  return manifest;
}

ModelManifest ModelManifest::find(const std::vector<std::filesystem::path>& paths) {
  for (const std::filesystem::path& path : paths) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) continue;
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return {};
    return parse(text);
  }
  return {};
}

const std::vector<ModelFile>* ModelManifest::files(SentenceDirection direction) const {
  const auto found = directions_.find(direction);
  return found == directions_.end() ? nullptr : &found->second;
}

}  // namespace talvori

// The model manifest: what makes a direction downloadable, where the manifest is looked for, and
// the manifest the agent is installed with.
#include "platform/sentences/model_manifest.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include <nlohmann/json.hpp>

#include "platform/sentences/model_store.h"

namespace talvori {
namespace {

using Json = nlohmann::json;
namespace fs = std::filesystem;

const SentenceDirection kZhEn = SentenceDirection::chineseToEnglish();
const SentenceDirection kEnZh = SentenceDirection::englishToChinese();

Json file(const std::string& name) {
  return {{"name", name},
          {"url", "https://example.org/" + name + ".gz"},
          {"sha256", std::string(64, 'a')},
          {"size", 10},
          {"gzip", true}};
}

// A manifest with a good en->zh direction and a zh->en direction whose files are `zhen`.
std::string manifest(const Json& zhen) {
  Json document;
  document["en>zh-Hans"]["files"] = {file("srcvocab.enzh.spm"), file("trgvocab.enzh.spm"),
                                     file("model.enzh.bin")};
  document["zh-Hans>en"]["files"] = zhen;
  return document.dump();
}

Json goodZhEn() { return {file("lex.zhen.bin"), file("vocab.zhen.spm"), file("model.zhen.bin")}; }

TEST(ModelManifestTest, ReadsDirectionsWithTheModelLast) {
  const ModelManifest parsed = ModelManifest::parse(
      manifest({file("model.zhen.bin"), file("vocab.zhen.spm"), file("lex.50.50.zhen.s2t.bin")}));
  ASSERT_NE(parsed.files(kZhEn), nullptr);
  std::vector<std::string> names;
  for (const ModelFile& entry : *parsed.files(kZhEn)) names.push_back(entry.name);
  EXPECT_EQ(names, (std::vector<std::string>{"vocab.zhen.spm", "lex.50.50.zhen.s2t.bin",
                                             "model.zhen.bin"}));
  EXPECT_NE(parsed.files(kEnZh), nullptr);

  // Upper-case digests are taken, written in lower case; unknown directions and members are
  // ignored.
  Json zhen = goodZhEn();
  zhen[0]["sha256"] = std::string(64, 'C');
  zhen[0]["mirror"] = "elsewhere";
  Json document = Json::parse(manifest(zhen));
  document["de>en"] = "anything";
  const ModelManifest upper = ModelManifest::parse(document.dump());
  ASSERT_NE(upper.files(kZhEn), nullptr);
  EXPECT_EQ(upper.files(kZhEn)->front().sha256, std::string(64, 'c'));
}

// Every wrong entry leaves its direction out and the other direction in.
TEST(ModelManifestTest, WrongEntriesLeaveTheirDirectionOut) {
  struct Case {
    const char* what;
    Json zhen;
  };
  std::vector<Case> cases;
  const auto changed = [](const char* member, Json value) {
    Json zhen = goodZhEn();
    zhen[2][member] = std::move(value);
    return zhen;
  };
  const auto without = [](const char* member) {
    Json zhen = goodZhEn();
    zhen[2].erase(member);
    return zhen;
  };
  for (const char* member : {"name", "url", "sha256", "size", "gzip"}) {
    cases.push_back({member, without(member)});
  }
  cases.push_back({"name not a string", changed("name", 5)});
  cases.push_back({"name with a folder", changed("name", "../model.zhen.bin")});
  cases.push_back({"name in a folder", changed("name", "model/zhen.bin")});
  cases.push_back({"hidden name", changed("name", ".model.zhen.bin")});
  cases.push_back({"name of no role", changed("name", "weights.zhen.bin")});
  cases.push_back({"name without a dot", changed("name", "model")});
  cases.push_back({"over-long name", changed("name", "model." + std::string(250, 'x'))});
  cases.push_back({"file URL", changed("url", "file:///etc/passwd")});
  cases.push_back({"no host", changed("url", "https://")});
  cases.push_back({"space in URL", changed("url", "https://example.org/a b")});
  cases.push_back({"short digest", changed("sha256", std::string(63, 'a'))});
  cases.push_back({"digest not hexadecimal", changed("sha256", std::string(64, 'g'))});
  cases.push_back({"size zero", changed("size", 0)});
  cases.push_back({"size negative", changed("size", -10)});
  cases.push_back({"size fractional", changed("size", 10.5)});
  cases.push_back({"size a string", changed("size", "10")});
  cases.push_back({"gzip a string", changed("gzip", "true")});
  cases.push_back({"entry not an object", Json{file("vocab.zhen.spm"), "model.zhen.bin"}});
  cases.push_back({"no model", Json{file("vocab.zhen.spm"), file("lex.zhen.bin")}});
  cases.push_back({"no vocabulary", Json{file("model.zhen.bin")}});
  cases.push_back(
      {"two models", Json{file("vocab.zhen.spm"), file("model.a.bin"), file("model.b.bin")}});
  cases.push_back({"shared and separate vocabularies",
                   Json{file("vocab.zhen.spm"), file("srcvocab.zhen.spm"),
                        file("trgvocab.zhen.spm"), file("model.zhen.bin")}});
  cases.push_back({"source vocabulary alone", Json{file("srcvocab.zhen.spm"), file("model.b")}});
  cases.push_back({"same name twice",
                   Json{file("vocab.zhen.spm"), file("model.zhen.bin"), file("model.zhen.bin")}});
  cases.push_back({"files not a list", Json::object()});

  ASSERT_NE(ModelManifest::parse(manifest(goodZhEn())).files(kZhEn), nullptr);
  for (const Case& wrong : cases) {
    SCOPED_TRACE(wrong.what);
    const ModelManifest parsed = ModelManifest::parse(manifest(wrong.zhen));
    EXPECT_EQ(parsed.files(kZhEn), nullptr);
    EXPECT_NE(parsed.files(kEnZh), nullptr);
  }
  // A direction that is not an object, or has no files.
  EXPECT_EQ(ModelManifest::parse(R"({"zh-Hans>en": []})").files(kZhEn), nullptr);
  EXPECT_EQ(ModelManifest::parse(R"({"zh-Hans>en": {}})").files(kZhEn), nullptr);
}

TEST(ModelManifestTest, TextThatIsNotAnObjectGivesNothing) {
  const std::string good = manifest(goodZhEn());
  for (const std::string& text :
       {std::string(), std::string("[]"), std::string("null"), good.substr(0, good.size() - 1),
        good + "}", std::string("\xff\xfe")}) {
    SCOPED_TRACE(text);
    const ModelManifest parsed = ModelManifest::parse(text);
    EXPECT_EQ(parsed.files(kZhEn), nullptr);
    EXPECT_EQ(parsed.files(kEnZh), nullptr);
  }
}

TEST(ModelManifestTest, FileRolesAndWhatFormsAModel) {
  EXPECT_EQ(modelFileRole("model.zhen.intgemm.alphas.bin"), ModelRole::model);
  EXPECT_EQ(modelFileRole("lex.50.50.zhen.s2t.bin"), ModelRole::lex);
  EXPECT_EQ(modelFileRole("trgvocab.enzh.spm"), ModelRole::trgvocab);
  for (const char* name : {"", "model", ".model.zhen.bin.abc123.part", "models.zhen.bin", "vocab",
                           "metadata.json", "model.zhen/x"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(modelFileRole(name), std::nullopt);
  }
  using enum ModelRole;
  EXPECT_TRUE(formsModel({model, vocab}));
  EXPECT_TRUE(formsModel({lex, trgvocab, model, srcvocab}));
  EXPECT_FALSE(formsModel({model, vocab, lex, lex}));
  EXPECT_FALSE(formsModel({model, srcvocab}));
  EXPECT_FALSE(formsModel({vocab, lex}));
}

// The data home first, then the data folders beside the executable, then the data directories;
// the first manifest that exists is used whole, even when it is wrong.
TEST(ModelManifestTest, LooksInTheDataHomeFirstAndUsesTheFirstFound) {
  const ModelStoreOptions options =
      modelStoreOptions("/opt/t/bin/talvori", "/data/home", "/home/u", "/d1:relative::/d2");
  EXPECT_EQ(options.manifestPaths,
            (std::vector<fs::path>{"/data/home/talvori/models.json",
                                   "/opt/t/bin/share/talvori/models.json",
                                   "/opt/t/share/talvori/models.json", "/d1/talvori/models.json",
                                   "/d2/talvori/models.json"}));
  EXPECT_EQ(options.userModels, fs::path("/data/home/talvori/models"));
  EXPECT_EQ(options.sharedModels,
            (std::vector<fs::path>{"/d1/talvori/models", "/d2/talvori/models"}));

  // A relative data home is ignored for the default under the home folder; without either,
  // nothing is installed.
  const ModelStoreOptions fallback = modelStoreOptions("", "data", "/home/u", nullptr);
  EXPECT_EQ(fallback.userModels, fs::path("/home/u/.local/share/talvori/models"));
  EXPECT_EQ(fallback.sharedModels, (std::vector<fs::path>{"/usr/local/share/talvori/models",
                                                          "/usr/share/talvori/models"}));
  EXPECT_TRUE(modelStoreOptions("", nullptr, nullptr, nullptr).userModels.empty());

  char folder[] = "/tmp/talvori-manifest-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const fs::path first = fs::path(folder) / "first.json";
  const fs::path second = fs::path(folder) / "second.json";
  std::ofstream(second) << manifest(goodZhEn());
  EXPECT_NE(ModelManifest::find({first, second}).files(kZhEn), nullptr);
  std::ofstream(first) << "{\"zh-Hans>en\": ";
  EXPECT_EQ(ModelManifest::find({first, second}).files(kZhEn), nullptr);
  fs::remove_all(folder);
}

// The manifest the agent is installed with, as the build puts it beside the agent: both
// directions, from the pinned commit, all gzip data.
TEST(ModelManifestTest, TheAgentsManifestNamesBothDirections) {
  const ModelStoreOptions options =
      modelStoreOptions(fs::path(TALVORI_BINARY_DIR) / "talvori", nullptr, nullptr, "/nowhere");
  const ModelManifest shipped = ModelManifest::find(options.manifestPaths);
  for (SentenceDirection direction : SentenceDirection::all()) {
    SCOPED_TRACE(direction.name());
    ASSERT_NE(shipped.files(direction), nullptr);
    for (const ModelFile& entry : *shipped.files(direction)) {
      EXPECT_EQ(entry.url,
                "https://media.githubusercontent.com/media/mozilla/firefox-translations-models/"
                "e7957fc407441a5e3e35bbcbf9d60d9b35764618/models/base-memory/" +
                    std::string(direction.folder()) + "/" + entry.name + ".gz");
      EXPECT_TRUE(entry.gzip);
    }
  }
}

}  // namespace
}  // namespace talvori

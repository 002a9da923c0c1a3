// A direction's model files served over HTTP on loopback, for tests of the agent: each file of a
// model folder gzipped into a scratch folder that model_server.py serves, and a manifest naming
// them written where the agent looks first ($XDG_DATA_HOME/talvori/models.json).
#pragma once

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <QByteArrayView>
#include <QCryptographicHash>
#include <nlohmann/json.hpp>

#include "base/subprocess.h"

namespace talvori::testing {

class ServedModels {
 public:
  struct File {
    std::string name;  // the installed name
    std::string sha256;
    std::uint64_t size = 0;  // of the gzipped bytes
  };

  // Serves the files of `model` as the direction `direction` ("zh-Hans>en"), with the manifest
  // written under `dataHome`. The files are served from `scratch`, which must exist.
  ServedModels(const std::filesystem::path& model, const std::string& direction,
               const std::filesystem::path& dataHome, const std::filesystem::path& scratch)
      : direction_(direction), manifest_(dataHome / "talvori" / "models.json"), folder_(scratch) {
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(model)) names.push_back(entry);
    // The model last, as in the published manifest, so that a folder that holds it is whole.
    std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) {
      const bool aModel = a.filename().string().starts_with("model.");
      const bool bModel = b.filename().string().starts_with("model.");
      return aModel != bModel ? bModel : a < b;
    });
    for (const auto& path : names) {
      std::ifstream in(path, std::ios::binary);
      const std::string gzipped = gzip(std::string(std::istreambuf_iterator<char>(in), {}));
      const std::string name = path.filename().string();
      std::ofstream(folder_ / (name + ".gz"), std::ios::binary) << gzipped;
      files_.push_back({name, sha256(gzipped), gzipped.size()});
    }
    server_ = Subprocess::start(
        {{TALVORI_PYTHON, std::string(TALVORI_SOURCE_DIR) + "/tests/sentences/model_server.py",
          folder_.string()}});
    char line[32] = {};
    std::size_t got = 0;
    const Deadline deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (server_ && got < sizeof(line) - 1 &&
           std::string(line, got).find('\n') == std::string::npos) {
      const Transfer moved = server_->read(std::span(line + got, sizeof(line) - 1 - got), deadline);
      if (moved.status != IoStatus::ok) break;
      got += moved.read;
    }
    const std::string first(line, got);
    if (first.starts_with("http ")) port_ = std::stoi(first.substr(5));
  }

  bool serving() const { return port_ != 0; }
  const std::vector<File>& files() const { return files_; }

  // Writes the manifest: each file served as `faults` says by the start of its name ("model",
  // "vocab", "lex"; "ok" for the others), with a wrong digest for the file whose name starts
  // with `wrongDigest`.
  void writeManifest(const std::map<std::string, std::string>& faults = {},
                     const std::string& wrongDigest = "") const {
    nlohmann::json list = nlohmann::json::array();
    for (const File& file : files_) {
      const std::string role = file.name.substr(0, file.name.find('.'));
      const auto fault = faults.find(role);
      std::string digest = file.sha256;
      if (!wrongDigest.empty() && role == wrongDigest) digest.replace(0, 4, "0000");
      list.push_back(
          {{"name", file.name},
           {"url", "http://127.0.0.1:" + std::to_string(port_) + "/" +
                       (fault == faults.end() ? "ok" : fault->second) + "/" + file.name + ".gz"},
           {"sha256", digest},
           {"size", file.size},
           {"gzip", true}});
    }
    std::filesystem::create_directories(manifest_.parent_path());
    std::ofstream(manifest_) << nlohmann::json{{direction_, {{"files", list}}}}.dump(2);
  }

  // The paths requested so far, in order.
  std::vector<std::string> requests() const {
    std::ifstream log(folder_ / "requests.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    return lines;
  }

  // Lets the files served as "gate" send their second half.
  void release() const {
    for (const File& file : files_) std::ofstream(folder_ / (file.name + ".gz.release"));
  }

 private:
  static std::string gzip(const std::string& bytes) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, bytes.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
  }

  static std::string sha256(const std::string& bytes) {
    return QCryptographicHash::hash(
               QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
               QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
  }

  const std::string direction_;
  const std::filesystem::path manifest_;
  const std::filesystem::path folder_;
  std::vector<File> files_;
  std::unique_ptr<Subprocess> server_;
  int port_ = 0;
};

}  // namespace talvori::testing

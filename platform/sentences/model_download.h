// ModelDownload: one manifest file fetched and installed under its final name in a folder, so
// that a file there under that name is always whole and right.
//
// The bytes go to a temporary file in the same folder (a name starting with a dot and ending in
// `.part`, created exclusively and locked with flock while in use); their size and sha256 are
// checked against the manifest; gzip data is decompressed on a worker thread into a second
// temporary (gzip's own CRC and length then cover what comes out), which is flushed to disk and
// renamed to the final name. Two processes installing the same file each write their own
// temporaries, and the rename is atomic. Any failure removes the temporaries.
//
// Main thread only, except the worker thread, which shares nothing with the download but the
// result it posts back. `done` runs once, later, on the main thread, never from inside `start`;
// not at all when the download is destroyed first. Destroying a download removes its temporary,
// unless its worker is under way: the worker then finishes alone, installing the file or
// removing its temporaries.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/sentences/model_manifest.h"

class QNetworkAccessManager;

namespace talvori {

class ModelDownload {
 public:
  // The bytes of this file received so far.
  using Received = std::function<void(std::uint64_t bytes)>;
  using Done = std::function<void(bool installed)>;

  // `network` must outlive the download. A download that receives nothing for `quietLimit`
  // fails.
  ModelDownload(QNetworkAccessManager& network, ModelFile file, std::filesystem::path folder,
                std::chrono::milliseconds quietLimit, Received received, Done done);
  ~ModelDownload();

  ModelDownload(const ModelDownload&) = delete;
  ModelDownload& operator=(const ModelDownload&) = delete;

  void start();

 private:
  class Transfer;
  Transfer* transfer_;  // a Qt object that deletes itself once finished
};

// Whether `name` is the name of a download's temporary file.
bool isModelTemporary(std::string_view name);

// Removes the temporaries in `folder` that no process holds (left by one that was killed).
void removeStaleTemporaries(const std::filesystem::path& folder);

}  // namespace talvori

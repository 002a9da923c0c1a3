// The translation service on the Apertium engine.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>

#include "base/main_queue.h"
#include "platform/packagekit/package_installer.h"
#include "queue/translation_service.h"

namespace talvori {

struct ApertiumOptions {
  // Where the engine's mode files are: a direction is installed when its mode file is here.
  std::filesystem::path modesDirectory = "/usr/share/apertium/modes";
  // How long one translation may take, starting the pipeline included: this much, plus
  // `timeoutPerThousandCharacters` for each 1,000 characters of the text.
  std::chrono::milliseconds timeout{10000};
  std::chrono::milliseconds timeoutPerThousandCharacters{1000};
  // A pipeline is replaced by a fresh one after this many translations, so that whatever memory
  // its programs gather cannot grow without bound.
  std::size_t recycleAfter = 1000;
  // Installs the Debian package of a direction that Debian offers but the machine lacks, when a
  // session is first asked to translate in that direction; it must outlive the service. Without
  // one, such a direction fails every translation.
  PackageInstaller* installer = nullptr;
};

// A translation service that runs one warm Apertium pipeline per direction, started on first
// use and shared by every later session for that direction, on a worker thread of its own. Mode
// files are looked up afresh for each availability question and each translation, so a direction
// installed while the service runs is found at once.
// Every call is made on the main thread; answers are posted to `mainQueue`, which must outlive
// the service and its sessions. SIGPIPE is blocked on the service's worker threads only; the
// process's signal dispositions are left alone. Pipelines end when the service is destroyed, and
// with the process when it exits without running destructors.
std::unique_ptr<TranslationService> makeApertiumService(MainQueue& mainQueue,
                                                        ApertiumOptions options = {});

}  // namespace talvori

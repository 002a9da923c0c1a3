// Delegate: builds the agent at start-up and owns what lives for the whole run.
#pragma once

#include <functional>
#include <memory>

#include "app/qt_main_queue.h"
#include "platform/packagekit/package_installer.h"
#include "platform/sentences/model_store.h"
#include "protocol/reply_sink.h"
#include "protocol/request_reader.h"
#include "queue/language_recogniser.h"
#include "queue/model.h"
#include "queue/translation_service.h"

namespace talvori {

class HelperPanel;

// Creates the model on the services it is given; when launching has finished it builds the
// helper panel, hands it to the model and, last, starts the request reader. Main thread only,
// except that the reader thread holds it weakly and reaches it only through jobs posted to the
// main thread.
class Delegate final : public std::enable_shared_from_this<Delegate> {
 public:
  struct Services {
    RecogniserFactory recogniser;
    // Installs missing language data for the translation service, which it outlives; its
    // progress shows in the panel. May be null.
    std::unique_ptr<PackageInstaller> installer;
    // Installs the sentence engine's models for the translation service, which it outlives; its
    // progress shows in the panel. May be null.
    std::unique_ptr<ModelStore> models;
    std::unique_ptr<TranslationService> translation;
    std::unique_ptr<ReplySink> replies;
    // Starts the request reader, which hands each request to the delegate it is given.
    std::function<void(std::weak_ptr<Delegate>)> startReader;
  };

  // The agent's own services: the real recogniser, translation service, package installer and
  // model store,
  // replies on standard output, and a reader of standard input that ends the process at the end
  // of input.
  static Services processServices();

  // Reads request lines from `fd` on a thread of its own, for the life of the process, and
  // hands each request to `delegate` in a main-queue job, as far ahead as `flow` allows;
  // `atEnd` runs in a main-queue job after the last of them.
  static void startReader(std::weak_ptr<Delegate> delegate, int fd, std::function<void()> atEnd,
                          ReaderFlow flow = {});

  explicit Delegate(Services services);
  ~Delegate();

  void applicationDidFinishLaunching();

 private:
  // Declared before `model`, which is built on them.
  QtMainQueue& mainQueue_ = QtMainQueue::instance();
  Services services_;

 public:
  Model model;
  std::unique_ptr<HelperPanel> window;
};

}  // namespace talvori

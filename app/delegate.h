// Delegate: builds the agent at start-up and owns what lives for the whole run.
#pragma once

#include <memory>

#include "app/qt_main_queue.h"
#include "protocol/descriptor_reply_sink.h"
#include "queue/model.h"
#include "queue/translation_service.h"

namespace talvori {

class HelperPanel;

// Creates the model with the real recogniser and translation service; when launching has
// finished it builds the helper panel, hands it to the model and starts the request reader.
// Main thread only, except that the reader thread holds it weakly and reaches it only through
// jobs posted to the main thread.
class Delegate final : public std::enable_shared_from_this<Delegate> {
 public:
  Delegate();
  ~Delegate();

  void applicationDidFinishLaunching();

 private:
  // Declared before `model`, which is built on them.
  QtMainQueue& mainQueue_ = QtMainQueue::instance();
  std::unique_ptr<TranslationService> translation_;
  DescriptorReplySink replies_;

 public:
  Model model;
  std::unique_ptr<HelperPanel> window;
};

}  // namespace talvori

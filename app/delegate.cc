#include "app/delegate.h"

#include <unistd.h>

#include <cstdlib>
#include <thread>
#include <utility>

#include "app/helper_panel.h"
#include "app/helper_view.h"
#include "platform/apertium_service.h"
#include "platform/dictionary_service.h"
#include "platform/recogniser.h"
#include "platform/routing_service.h"
#include "protocol/request_reader.h"

namespace talvori {

Delegate::Delegate()
    : translation_(makeRoutingService(makeApertiumService(mainQueue_),
                                      makeDictionaryService(mainQueue_, dictionaryIndexPaths()))),
      model({&makeRecogniser, *translation_, mainQueue_, STDOUT_FILENO}) {}

Delegate::~Delegate() = default;

void Delegate::applicationDidFinishLaunching() {
  // A tool window has no taskbar entry, and the agent has no menu or tray icon.
  window = std::make_unique<HelperPanel>();
  window->setContentView(new HelperView(model, *translation_, mainQueue_));
  window->center();
  window->setAlphaValue(0.0);
  model.window = window.get();
  window->orderFrontRegardless();

  // The reader is started last, so every request finds the panel in place. It blocks on
  // standard input for the life of the process; at the end of input the process ends at once,
  // without answering what still waits.
  std::thread([delegate = weak_from_this(), &mainQueue = mainQueue_] {
    runRequestReader(
        STDIN_FILENO, mainQueue,
        [delegate](Request request) {
          if (auto alive = delegate.lock()) alive->model.enqueue(std::move(request));
        },
        [] { std::_Exit(0); });
  }).detach();
}

}  // namespace talvori

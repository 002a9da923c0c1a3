#include "app/delegate.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

#include "app/helper_panel.h"
#include "app/helper_view.h"
#include "platform/apertium/apertium_service.h"
#include "platform/dictionary/dictionary_service.h"
#include "platform/han_script/script_conversion_service.h"
#include "platform/packagekit/packagekit_installer.h"
#include "platform/recogniser/recogniser.h"
#include "platform/routing_service.h"
#include "protocol/descriptor_reply_sink.h"
#include "protocol/request_reader.h"

namespace talvori {

namespace {

// A reply write that has not taken a byte for this long means that the host has stopped reading.
constexpr std::chrono::milliseconds kHostStoppedReading{500};

}  // namespace

Delegate::Services Delegate::processServices() {
  auto replies = std::make_unique<DescriptorReplySink>(STDOUT_FILENO);
  ReaderFlow flow;
  // The sink lives as long as the process, like the delegate that will own it.
  flow.outputStalled = [output = replies.get()] {
    return output->stalledFor() > kHostStoppedReading;
  };
  // At the end of input the process ends at once, without answering what still waits; if the
  // main thread does not get to the end (stuck writing to a host that no longer reads, or
  // anywhere else), the reader ends it.
  flow.endNow = [] { std::_Exit(0); };
  // The installer reaches the system bus only when a first install needs it.
  auto installer = makePackageKitInstaller();
  ApertiumOptions apertium;
  apertium.installer = installer.get();
  return Services{
      &makeRecogniser,
      std::move(installer),
      makeRoutingService(makeApertiumService(QtMainQueue::instance(), std::move(apertium)),
                         makeDictionaryService(QtMainQueue::instance(), dictionaryIndexPaths()),
                         makeScriptConversionService(QtMainQueue::instance())),
      std::move(replies),
      [flow](std::weak_ptr<Delegate> delegate) {
        startReader(
            std::move(delegate), STDIN_FILENO, [] { std::_Exit(0); }, flow);
      },
  };
}

void Delegate::startReader(std::weak_ptr<Delegate> delegate, int fd, std::function<void()> atEnd,
                           ReaderFlow flow) {
  std::thread([delegate = std::move(delegate), fd, atEnd = std::move(atEnd),
               flow = std::move(flow)] {
    runRequestReader(
        fd, QtMainQueue::instance(),
        [delegate](Request request) {
          if (auto alive = delegate.lock()) alive->model.enqueue(std::move(request));
        },
        atEnd, flow);
  }).detach();
}

Delegate::Delegate(Services services)
    : services_(std::move(services)),
      model({services_.recogniser, *services_.translation, mainQueue_, *services_.replies}) {}

Delegate::~Delegate() = default;

void Delegate::applicationDidFinishLaunching() {
  // A tool window has no taskbar entry, and the agent has no menu or tray icon.
  window = std::make_unique<HelperPanel>();
  auto* view = new HelperView(model, *services_.translation);
  window->setContentView(view);
  // The view is the panel's child, and the panel lives as long as the delegate.
  if (services_.installer) {
    services_.installer->onProgress(
        [view](std::optional<int> percent) { view->showProgress(percent); });
  }
  window->center();
  window->setAlphaValue(0.0);
  model.window = window.get();
  window->orderFrontRegardless();
  // Last, so that every request finds the panel in place.
  services_.startReader(weak_from_this());
}

}  // namespace talvori

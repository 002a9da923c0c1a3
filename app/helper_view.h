// HelperView: the panel's content, and the point where translation sessions reach the queue.
#pragma once

#include <QWidget>

#include "queue/translation_hook.h"

class QLabel;

namespace talvori {

class MainQueue;
class Model;
class TranslationService;

// Shows the icon, the headline, the model's status (centred, wrapped) and an indeterminate
// progress bar in a fixed 360 x 180 frame with 28 of padding and 16 between rows. The content is
// made when the view is first about to be shown, so that a panel nobody sees costs no fonts or
// images at start-up. It reads the model's status again after every published change, and its
// translation hook runs one session for each newly published or invalidated configuration. It
// never writes to the model. Main thread only; the model, service and queue outlive it.
class HelperView final : public QWidget {
 public:
  HelperView(Model& model, TranslationService& service, MainQueue& mainQueue,
             QWidget* parent = nullptr);

  void setVisible(bool visible) override;

 private:
  void build();
  void render();

  Model& model_;
  QLabel* status_ = nullptr;  // made with the rest of the content
  TranslationHook hook_;
};

}  // namespace talvori

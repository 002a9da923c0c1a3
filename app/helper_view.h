// HelperView: the panel's content, and the point where translation sessions reach the queue.
#pragma once

#include <optional>

#include <QWidget>

#include "queue/translation_hook.h"

class QLabel;
class QProgressBar;

namespace talvori {

class Model;
class TranslationService;

// Shows the icon, the headline, the model's status (centred, wrapped) and a progress bar in a
// fixed 360 x 180 frame with 28 of padding and 16 between rows. The bar is indeterminate except
// while showProgress has been given a percentage. The content is made when the view is first
// about to be shown, so that a panel nobody sees costs no fonts or images at start-up. It reads
// the model's status again after every published change, and its translation hook runs one
// session for each newly published or invalidated configuration. It never writes to the model.
// Main thread only; the model and the service outlive it.
class HelperView final : public QWidget {
 public:
  HelperView(Model& model, TranslationService& service, QWidget* parent = nullptr);

  void setVisible(bool visible) override;

  // Makes the progress bar show `percent` (0 to 100), or turn indeterminate again for none.
  void showProgress(std::optional<int> percent);

 private:
  void build();
  void render();

  Model& model_;
  QLabel* status_ = nullptr;  // made with the rest of the content
  QProgressBar* progress_ = nullptr;
  std::optional<int> percent_;  // what the progress bar shows, kept until it is made
  TranslationHook hook_;
};

}  // namespace talvori

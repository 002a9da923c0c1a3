// TranslationHook: hands translation sessions to the model for each newly published or
// invalidated configuration.
//
// It watches the model's configuration. After every change it reads the configuration; when its
// identity is new and it is not none, it asks the translation service for a session for that
// pair, calls Model::perform with it and ends the session once perform has finished. A
// configuration of none starts nothing, and a change of status alone leaves the identity as it
// was. At most one session is alive at a time: the model publishes a configuration only for the
// request it dispatches next, after the current one has been answered. Main thread only; the
// model and the service outlive it.
#pragma once

#include <cstdint>
#include <memory>

namespace talvori {

class Model;
class TranslationService;
class TranslationSession;

class TranslationHook {
 public:
  TranslationHook(Model& model, TranslationService& service);
  TranslationHook(const TranslationHook&) = delete;
  TranslationHook& operator=(const TranslationHook&) = delete;
  ~TranslationHook();

  // Reads the configuration now and starts a session if its identity is new.
  void refresh();

 private:
  Model& model_;
  TranslationService& service_;
  std::uint64_t seen_ = 0;  // identity of the last configuration a session was started for
  std::unique_ptr<TranslationSession> session_;  // the session whose perform has not finished
};

}  // namespace talvori

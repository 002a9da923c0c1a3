// The script conversion service: Traditional Chinese into Simplified, and nothing else.
#include "platform/han_script/script_conversion_service.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/fakes/manual_main_queue.h"

namespace talvori {
namespace {

TEST(ScriptConversionService, ServesTraditionalIntoSimplifiedOnly) {
  testing::ManualMainQueue queue;
  auto service = makeScriptConversionService(queue);
  std::vector<AvailabilityStatus> statuses;
  std::optional<std::optional<AvailabilityStatus>> forText;
  {
    auto availability = service->makeAvailability();
    for (const auto& [from, to] : {std::pair{"zh-Hant", "zh-Hans"},
                                   {"zh-TW", "zh-Hans"},
                                   {"zh-Hans", "zh-Hans"},
                                   {"zh-Hant", "en"},
                                   {"en", "zh-Hans"}}) {
      availability->statusFrom(Language(from), Language(to),
                               [&](AvailabilityStatus s) { statuses.push_back(s); });
    }
    availability->statusFor("電腦", Language("zh-Hans"), [&](auto s) { forText = s; });
  }
  EXPECT_TRUE(statuses.empty());  // answers never come inside the call
  queue.runAll();
  EXPECT_EQ(statuses, (std::vector<AvailabilityStatus>{
                          AvailabilityStatus::installed, AvailabilityStatus::installed,
                          AvailabilityStatus::unsupported, AvailabilityStatus::unsupported,
                          AvailabilityStatus::unsupported}));
  ASSERT_TRUE(forText.has_value());
  EXPECT_EQ(*forText, std::nullopt);

  std::vector<std::optional<std::string>> answers;
  auto session =
      service->makeSession(TranslationConfiguration(Language("zh-Hant"), Language("zh-Hans")));
  session->translate("  我愛你\n電腦", [&](auto text) { answers.push_back(text); });
  auto other = service->makeSession(TranslationConfiguration(Language("en"), Language("zh-Hans")));
  other->translate("computer", [&](auto text) { answers.push_back(text); });
  queue.runAll();
  EXPECT_EQ(answers, (std::vector<std::optional<std::string>>{"  我爱你\n电脑", std::nullopt}));
}

}  // namespace
}  // namespace talvori

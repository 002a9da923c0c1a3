#include "platform/han_script/han_script.h"

#include <gtest/gtest.h>

namespace talvori {
namespace {

TEST(SimplifyHan, WritesTraditionalCharactersInSimplifiedAndLeavesTheRest) {
  EXPECT_EQ(simplifyHan("電腦"), "电脑");
  EXPECT_EQ(simplifyHan("我愛你。"), "我爱你。");
  EXPECT_EQ(simplifyHan("臺灣的網路連線"), "台湾的网路连线");
  // Simplified, shared characters, other scripts and punctuation pass unchanged.
  EXPECT_EQ(simplifyHan("电脑 and 中文, 日本語のかな"), "电脑 and 中文, 日本语のかな");
  EXPECT_EQ(simplifyHan(""), "");
  // Bytes that are not UTF-8 pass as they are, around a converted character.
  EXPECT_EQ(simplifyHan("\xff\xfe電\xc3"), "\xff\xfe电\xc3");
}

}  // namespace
}  // namespace talvori

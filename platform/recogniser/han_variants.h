// Which Chinese script a Han character belongs to, if only one writes it.
#pragma once

namespace talvori {

enum class HanVariant { shared, simplified, traditional };

// Simplified for a character that exists only in Simplified Chinese ("电"), traditional for one
// that exists only in Traditional ("電"), shared for every other character, Han or not. Looked up
// in a table made at build time from ICU's transliterations between the two scripts. Any thread.
HanVariant hanVariant(char32_t c);

}  // namespace talvori

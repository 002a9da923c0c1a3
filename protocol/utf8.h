// UTF-8 validation and repair.
#pragma once

#include <string>
#include <string_view>

namespace talvori {

// Whether `bytes` is well-formed UTF-8 (no surrogates, no overlong forms, nothing above U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// Appends `bytes` to `out` with each maximal ill-formed subpart replaced by U+FFFD, the
// replacement practice that Unicode recommends and ICU follows.
void appendRepairedUtf8(std::string_view bytes, std::string& out);

// `bytes` with ill-formed sequences replaced; moves the input through when it is already valid.
std::string repairUtf8(std::string&& bytes);

}  // namespace talvori

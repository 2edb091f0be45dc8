// modTaskDialog: resource identifiers for the task dialogs.
#pragma once

#include <cstdint>

namespace qv {

// The low 16 bits of `iValue`, high bits zero (MAKEINTRESOURCEW of a 16-bit number given as a
// negative value): -1 gives 0xFFFF (TD_WARNING_ICON), -3 gives 0xFFFD (TD_INFORMATION_ICON).
std::uint32_t MakeResourceId(std::int32_t iValue);

}  // namespace qv

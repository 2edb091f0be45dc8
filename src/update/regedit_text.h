// Registry values as regedit 5.00 writes them, for the what-if report and for qv3sim's registry
// files alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/win_types.h"

namespace qv {

// One value line, without a line end: `"name"=` (`@=` for the key's default value) and its data
// as regedit writes it: "text" for a REG_SZ of one line with one terminating NUL, dword:xxxxxxxx,
// hex: or hex(N): otherwise (string types as UTF-16LE), - for a deleted value; long hex data
// wrapped with "\" where regedit wraps it. `text`: a string type's data as Unicode, NULs kept;
// `bytes`: any other type's data. UTF-8.
std::string RegeditValue(const Text& name, bool isDefault, bool deleted, win::DWORD type,
                         const Text& text, const std::vector<std::uint8_t>& bytes);

bool IsRegistryStringType(win::DWORD type);  // REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ

}  // namespace qv

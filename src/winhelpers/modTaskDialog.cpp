#include "winhelpers/modTaskDialog.h"

namespace qv {

std::uint32_t MakeResourceId(std::int32_t iValue) {
  // Copy the two low-order bytes into a zero value: no sign extension.
  return static_cast<std::uint32_t>(iValue) & 0x0000FFFFu;
}

}  // namespace qv

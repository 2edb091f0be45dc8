// The error the program's objects raise to their caller: a number, a source and a description.
// Main catches none of them; the entry point reports one that escapes.
#pragma once

#include <cstdint>
#include <stdexcept>

#include "platform/text.h"

namespace qv {

class Error : public std::runtime_error {
 public:
  Error(std::int32_t number, Text source, Text description)
      : std::runtime_error(TextToUtf8(description)),
        number_(number),
        source_(std::move(source)),
        description_(std::move(description)) {}
  std::int32_t number() const { return number_; }
  const Text& source() const { return source_; }
  const Text& description() const { return description_; }

 private:
  std::int32_t number_;
  Text source_;
  Text description_;
};

}  // namespace qv

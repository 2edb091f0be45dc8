// cRegistry: a small stateful object that addresses one registry location (root, key path,
// value name) and performs one operation at a time on it through the ANSI registry functions.
// It holds no registry handle between operations. Failures are raised as qv::Error with the
// source "<exe name without extension>.cRegistry".
#pragma once

#include <cstdint>
#include <vector>

#include "platform/ansi_text.h"
#include "platform/seam.h"
#include "registry/error.h"
#include "registry/variant.h"

namespace qv {

class cRegistry {
 public:
  // `exeName`: the running executable's file name without extension (e.g. u"QV3Update").
  // `processBits`: the word size of the running program. A 64-bit program asks for the 32-bit
  // registry view explicitly (KEY_WOW64_32KEY) on every operation but Value64bit, so it reaches
  // the same keys as the 32-bit program.
  cRegistry(win::ICodePage& codePage, win::IRegistry& registry, Text exeName, int processBits);

  // Public members in the order of the class's interface.
  bool KeyExists();
  bool CreateKey();
  bool DeleteKey();
  bool DeleteValue();
  Variant Value();
  void Value64bit(const Variant& vValue);
  void Value(const Variant& vValue);
  // Fills sKeyNames (element 0 stands for index 1) and iKeyCount; always true when it returns.
  bool EnumerateValues(std::vector<Text>& sKeyNames, std::int32_t& iKeyCount);
  bool EnumerateSections(std::vector<Text>& sSect, std::int32_t& iSectCount);
  std::int32_t ValueType() const { return valueType_; }
  void ValueType(std::int32_t eValueType) { valueType_ = eValueType; }
  std::int32_t ClassKey() const { return classKey_; }
  void ClassKey(std::int32_t eKey) { classKey_ = eKey; }
  const Text& SectionKey() const { return sectionKey_; }
  void SectionKey(Text sSectionKey) { sectionKey_ = std::move(sSectionKey); }
  const Text& ValueKey() const { return valueKey_; }
  Variant ValueEx(std::int32_t eClassKey, Text sSectionKey, Text sValueKey,
                  std::int32_t eValueType, Variant vDefault);
  void ValueEx(std::int32_t eClassKey, Text sSectionKey, Text sValueKey, std::int32_t eValueType,
               Variant vDefault, Variant& NewValue);
  void ValueKey(Text sValueKey) { valueKey_ = std::move(sValueKey); }
  const Variant& Default() const { return default_; }
  void Default(Variant vDefault) { default_ = std::move(vDefault); }

  // The error numbers the object raises.
  static constexpr std::int32_t kErrKey = 26001;                     // 0x6591
  static constexpr std::int32_t kErrSetValue = -2147194455;          // 0x800469A9
  static constexpr std::int32_t kErrEnumerate = -2147194454;         // 0x800469AA

  // The text the last write that could neither create nor open its key composed (nobody
  // raises it; kept for diagnostics).
  const Text& PendingErrorText() const { return pendingError_; }

 private:
  static std::int32_t ReverseByteOrder(std::int32_t value);
  Text ExpandEnvironmentText(const Text& text);
  void WriteValue(const Variant& vValue, win::REGSAM access);

  win::IRegistry& registry_;
  Text source_;
  AnsiCodec codec_;
  win::REGSAM view_;
  std::int32_t classKey_ = 0;
  Text sectionKey_;
  Text valueKey_;
  std::int32_t valueType_ = 0;
  Variant default_;
  Text pendingError_;
};

}  // namespace qv

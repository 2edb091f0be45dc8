#include "registry/cRegistry.h"

#include <cstring>
#include <exception>
#include <new>

#include "platform/handles.h"

namespace qv {

namespace {

constexpr win::REGSAM kQuery = win::KEY_QUERY_VALUE;            // 0x1
constexpr win::REGSAM kEnumerate = win::KEY_ENUMERATE_SUB_KEYS;  // 0x8
constexpr win::REGSAM kReadWrite = 0x3F;  // the six specific key rights, no standard rights
constexpr win::REGSAM kReadWrite64 = kReadWrite | win::KEY_WOW64_64KEY;  // 0x13F

// The name buffer EnumerateSections offers RegEnumKeyA: 255 characters, terminator included.
constexpr win::DWORD kSectionNameBuffer = 255;

// True when the text holds a "%" followed, at least two positions later, by another "%":
// something that may name an environment variable.
bool LooksExpandable(const Text& text) {
  const std::size_t first = text.find(u'%');
  if (first == Text::npos) return false;
  return text.find(u'%', first + 2) != Text::npos;
}

}  // namespace

cRegistry::cRegistry(win::ICodePage& codePage, win::IRegistry& registry, Text exeName,
                     int processBits)
    : registry_(registry),
      source_(std::move(exeName) + u".cRegistry"),
      codec_(codePage, source_),
      view_(processBits == 64 ? win::KEY_WOW64_32KEY : 0) {}

bool cRegistry::KeyExists() {
  win::UniqueHkey key(registry_);
  const AnsiString path = codec_.ToAnsi(sectionKey_);
  if (registry_.RegOpenKeyExA(win::HkeyFromLong(classKey_), path.c_str(), 0, kQuery | view_,
                              key.put()) != win::ERROR_SUCCESS)
    return false;
  return true;
}

bool cRegistry::CreateKey() {
  win::UniqueHkey key(registry_);
  const AnsiString path = codec_.ToAnsi(sectionKey_);
  win::SECURITY_ATTRIBUTES security{};
  win::DWORD disposition = 0;
  const win::LONG result =
      registry_.RegCreateKeyExA(win::HkeyFromLong(classKey_), path.c_str(), 0, "",
                                win::REG_OPTION_NON_VOLATILE, kReadWrite | view_, &security,
                                key.put(), &disposition);
  if (result != win::ERROR_SUCCESS)
    throw Error(kErrKey, source_, u"Failed to create registry Key: '" + sectionKey_);
  return true;
}

bool cRegistry::DeleteKey() {
  const AnsiString path = codec_.ToAnsi(sectionKey_);
  const win::HKEY root = win::HkeyFromLong(classKey_);
  // A 64-bit build names the 32-bit view explicitly, which only the Ex function can.
  const win::LONG result = view_ != 0 ? registry_.RegDeleteKeyExA(root, path.c_str(), view_, 0)
                                 : registry_.RegDeleteKeyA(root, path.c_str());
  if (result != win::ERROR_SUCCESS)
    throw Error(kErrKey, source_,
                u"Failed to delete registry Key: '" + IntToText(classKey_) + u"',Section: '" +
                    sectionKey_);
  return true;
}

bool cRegistry::DeleteValue() {
  win::UniqueHkey key(registry_);
  const AnsiString path = codec_.ToAnsi(sectionKey_);
  if (registry_.RegOpenKeyExA(win::HkeyFromLong(classKey_), path.c_str(), 0, kReadWrite | view_,
                              key.put()) != win::ERROR_SUCCESS)
    throw Error(kErrKey, source_,
                u"Failed to open key '" + IntToText(classKey_) + u"',Section: '" + sectionKey_ +
                    u"' for delete access");
  const AnsiString name = codec_.ToAnsi(valueKey_);
  if (registry_.RegDeleteValueA(key.get(), name.c_str()) != win::ERROR_SUCCESS) {
    key.reset();
    throw Error(kErrKey, source_,
                u"Failed to delete registry Key: '" + IntToText(classKey_) + u"',Section: '" +
                    sectionKey_ + u"',Key: '" + valueKey_);
  }
  return true;
}

Variant cRegistry::Value() {
  win::UniqueHkey key(registry_);
  const AnsiString path = codec_.ToAnsi(sectionKey_);
  const AnsiString name = codec_.ToAnsi(valueKey_);
  // Not tested: when the key cannot be opened the handle stays 0 and the probe fails.
  registry_.RegOpenKeyExA(win::HkeyFromLong(classKey_), path.c_str(), 0, kQuery | view_,
                          key.put());

  win::DWORD type = 0;
  win::BYTE probe[4] = {0, 0, 0, 0};
  win::DWORD size = 0;
  const win::LONG found = registry_.RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, probe,
                                                &size);
  if (found != win::ERROR_SUCCESS && found != win::ERROR_MORE_DATA) return default_;
  valueType_ = static_cast<std::int32_t>(type);

  switch (type) {
    case win::REG_SZ:
    case win::REG_MULTI_SZ:
    case win::REG_EXPAND_SZ: {
      if (size == 0) return type == win::REG_EXPAND_SZ ? Variant(Text()) : default_;
      std::string buffer(size, '\0');
      win::DWORD bufferSize = size;
      registry_.RegQueryValueExA(key.get(), name.c_str(), nullptr, &type,
                                 reinterpret_cast<win::BYTE*>(buffer.data()), &bufferSize);
      // Only the last stored byte, normally the terminator, is dropped.
      buffer.resize(size - 1);
      Text text = codec_.FromAnsi(AnsiString(std::move(buffer)));
      if (valueType_ == static_cast<std::int32_t>(win::REG_EXPAND_SZ))
        text = ExpandEnvironmentText(text);
      return Variant(std::move(text));
    }
    case win::REG_DWORD:
    case win::REG_DWORD_BIG_ENDIAN: {
      win::BYTE bytes[4] = {0, 0, 0, 0};
      win::DWORD bufferSize = size < 4 ? size : 4;
      registry_.RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, bytes, &bufferSize);
      const auto number = static_cast<std::int32_t>(
          static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
          (static_cast<std::uint32_t>(bytes[2]) << 16) |
          (static_cast<std::uint32_t>(bytes[3]) << 24));
      if (valueType_ == static_cast<std::int32_t>(win::REG_DWORD_BIG_ENDIAN))
        return Variant(ReverseByteOrder(number));
      return Variant(number);
    }
    default: {
      // One byte more than stored; the last one stays 0.
      ByteArray bytes(static_cast<std::size_t>(size) + 1, 0);
      win::DWORD bufferSize = size;
      registry_.RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, bytes.data(),
                                 &bufferSize);
      return Variant(std::move(bytes));
    }
  }
}

std::int32_t cRegistry::ReverseByteOrder(std::int32_t value) {
  const auto u = static_cast<std::uint32_t>(value);
  return static_cast<std::int32_t>((u >> 24) | ((u >> 8) & 0xFF00u) | ((u << 8) & 0xFF0000u) |
                                   (u << 24));
}

Text cRegistry::ExpandEnvironmentText(const Text& text) {
  const AnsiString source = codec_.ToAnsi(text);
  char empty[1] = {0};
  const win::DWORD needed = registry_.ExpandEnvironmentStringsA(source.c_str(), empty, 0);
  // A failed expansion (0) leaves nothing to show.
  if (needed == 0) return Text();
  std::string buffer(needed, '\0');
  registry_.ExpandEnvironmentStringsA(source.c_str(), buffer.data(), needed);
  buffer.resize(needed - 1);
  return codec_.FromAnsi(AnsiString(std::move(buffer)));
}

void cRegistry::Value64bit(const Variant& vValue) { WriteValue(vValue, kReadWrite64); }

void cRegistry::Value(const Variant& vValue) { WriteValue(vValue, kReadWrite | view_); }

void cRegistry::WriteValue(const Variant& vValue, win::REGSAM access) {
  win::UniqueHkey key(registry_);
  // Every text is converted before the key is created, so a text the code page cannot carry
  // changes nothing.
  const AnsiString path = codec_.ToAnsi(sectionKey_);
  const AnsiString name = codec_.ToAnsi(valueKey_);
  const bool isText = valueType_ == 1 || valueType_ == 2;  // REG_SZ, REG_EXPAND_SZ
  const Text text = isText ? vValue.ToText() : Text();
  const AnsiString textBytes = isText ? codec_.ToAnsi(text) : AnsiString();
  win::SECURITY_ATTRIBUTES security{};
  win::DWORD disposition = 0;
  if (registry_.RegCreateKeyExA(win::HkeyFromLong(classKey_), path.c_str(), 0, "",
                                win::REG_OPTION_NON_VOLATILE, access, &security, key.put(),
                                &disposition) != win::ERROR_SUCCESS) {
    // Nothing is written and nothing raised; the text is kept for diagnostics only.
    pendingError_ = u"Failed to set registry value Key: " + sectionKey_ + u"',Key: '" +
                    valueKey_ + u"' to value: '" + vValue.ToText() + u"'";
    return;
  }

  const Text failure = u"Failed to set registry value Key: '" + IntToText(classKey_) +
                       u"',Section: '" + sectionKey_ + u"',Key: '" + valueKey_ +
                       u"' to value: '" + vValue.ToText() + u"'";
  win::LONG result = win::ERROR_SUCCESS;
  switch (valueType_) {
    case 1:    // REG_SZ
    case 2: {  // REG_EXPAND_SZ
      const win::DWORD type = LooksExpandable(text) ? win::REG_EXPAND_SZ : win::REG_SZ;
      result = registry_.RegSetValueExA(key.get(), name.c_str(), 0, type,
                                        reinterpret_cast<const win::BYTE*>(textBytes.c_str()),
                                        static_cast<win::DWORD>(textBytes.size() + 1));
      break;
    }
    case 3: {  // REG_BINARY
      if (!vValue.IsByteArray()) {
        key.reset();
        throw Error(kErrKey, Text(), Text());
      }
      const ByteArray& bytes = vValue.AsBytes();
      result = registry_.RegSetValueExA(key.get(), name.c_str(), 0, win::REG_BINARY,
                                        bytes.data(), static_cast<win::DWORD>(bytes.size()));
      break;
    }
    case 4:    // REG_DWORD
    case 5: {  // REG_DWORD_BIG_ENDIAN, stored as REG_DWORD without reversal
      if (!vValue.IsInteger()) {
        // A number type with something that is no number: refuse it rather than report a
        // write that never happened.
        key.reset();
        throw Error(kErrSetValue, source_, failure);
      }
      const auto number = static_cast<std::uint32_t>(vValue.AsInt32());
      const win::BYTE bytes[4] = {static_cast<win::BYTE>(number & 0xFF),
                                  static_cast<win::BYTE>((number >> 8) & 0xFF),
                                  static_cast<win::BYTE>((number >> 16) & 0xFF),
                                  static_cast<win::BYTE>((number >> 24) & 0xFF)};
      result = registry_.RegSetValueExA(key.get(), name.c_str(), 0, win::REG_DWORD, bytes, 4);
      break;
    }
    default:
      result = win::ERROR_INVALID_DATA;
      break;
  }
  if (result != win::ERROR_SUCCESS) {
    key.reset();
    throw Error(kErrSetValue, source_, failure);
  }
}

bool cRegistry::EnumerateValues(std::vector<Text>& sKeyNames, std::int32_t& iKeyCount) {
  iKeyCount = 0;
  sKeyNames.clear();
  win::UniqueHkey key(registry_);
  const AnsiString path = codec_.ToAnsi(sectionKey_);
  if (registry_.RegOpenKeyExA(win::HkeyFromLong(classKey_), path.c_str(), 0, kQuery | view_,
                              key.put()) != win::ERROR_SUCCESS)
    return true;
  char className[1] = {0};
  win::DWORD classLength = 0;
  win::DWORD subKeys = 0, maxSubKey = 0, maxClass = 0, values = 0, maxValueName = 0,
             maxValueData = 0, securityDescriptor = 0;
  win::FILETIME lastWrite{};
  if (registry_.RegQueryInfoKeyA(key.get(), className, &classLength, nullptr, &subKeys,
                                 &maxSubKey, &maxClass, &values, &maxValueName, &maxValueData,
                                 &securityDescriptor, &lastWrite) != win::ERROR_SUCCESS)
    return true;
  for (win::DWORD index = 0;; ++index) {
    std::string buffer(static_cast<std::size_t>(maxValueName) + 1, '\0');
    win::DWORD length = maxValueName + 1;
    if (registry_.RegEnumValueA(key.get(), index, buffer.data(), &length, nullptr, nullptr,
                                nullptr, nullptr) != win::ERROR_SUCCESS)
      break;
    buffer.resize(length);
    sKeyNames.push_back(codec_.FromAnsi(AnsiString(std::move(buffer))));
    ++iKeyCount;
  }
  return true;
}

bool cRegistry::EnumerateSections(std::vector<Text>& sSect, std::int32_t& iSectCount) {
  win::UniqueHkey key(registry_);
  try {
    iSectCount = 0;
    sSect.clear();
    const AnsiString path = codec_.ToAnsi(sectionKey_);
    if (registry_.RegOpenKeyExA(win::HkeyFromLong(classKey_), path.c_str(), 0,
                                kEnumerate | view_, key.put()) != win::ERROR_SUCCESS)
      return true;
    for (win::DWORD index = 0;; ++index) {
      std::string buffer(kSectionNameBuffer, '\0');
      if (registry_.RegEnumKeyA(key.get(), index, buffer.data(), kSectionNameBuffer) !=
          win::ERROR_SUCCESS)
        break;
      const std::size_t end = buffer.find('\0');
      if (end != std::string::npos) buffer.resize(end);
      ++iSectCount;
      sSect.push_back(codec_.FromAnsi(AnsiString(std::move(buffer))));
    }
    return true;
  } catch (const Error& e) {
    key.reset();
    throw Error(kErrEnumerate, source_, e.description());
  } catch (const std::bad_alloc&) {
    key.reset();
    throw Error(kErrEnumerate, source_, u"Out of memory");
  } catch (const std::exception& e) {
    key.reset();
    throw Error(kErrEnumerate, source_, Utf8ToText(e.what()));
  }
}

Variant cRegistry::ValueEx(std::int32_t eClassKey, Text sSectionKey, Text sValueKey,
                           std::int32_t eValueType, Variant vDefault) {
  ClassKey(eClassKey);
  SectionKey(std::move(sSectionKey));
  ValueKey(std::move(sValueKey));
  ValueType(eValueType);
  Default(std::move(vDefault));
  return Value();
}

void cRegistry::ValueEx(std::int32_t eClassKey, Text sSectionKey, Text sValueKey,
                        std::int32_t eValueType, Variant vDefault, Variant& NewValue) {
  ClassKey(eClassKey);
  SectionKey(std::move(sSectionKey));
  ValueKey(std::move(sValueKey));
  ValueType(eValueType);
  Default(std::move(vDefault));
  if (valueType_ == 1 && NewValue.ToText().empty()) NewValue = default_;
  Value(NewValue);
}

}  // namespace qv

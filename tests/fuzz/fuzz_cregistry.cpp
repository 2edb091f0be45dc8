// cRegistry driven by random sequences of operations on the simulated registry of a 64-bit
// Windows, compared after every operation against a plain model of keys and values: the result,
// the error raised (number, source, description), the object's ValueType, and that no key
// handle stays open. Some operations run with one of their registry calls failing; those must
// raise only the object's own errors and leave nothing open, and the model then takes the
// registry's contents as they are. A text the ANSI code page cannot carry unchanged is never
// passed to the registry: the operation raises kErrAnsiText before any call it would affect.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "platform/sim/sim_kernel.h"
#include "platform/sim/sim_registry.h"
#include "registry/cRegistry.h"

namespace qv::fuzz {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "cRegistry disagrees with the model: %s\n", what.c_str());
  std::abort();
}

void Check(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

std::string Show(const Text& t) { return TextToUtf8(t); }

// --- names and texts the sequences use ----------------------------------------------------------

// Key names: pairs that differ only in case (also in the Latin-1 range), a blank, the Euro sign
// (one byte in code page 1252) and a letter the code page lacks, which cannot be passed on.
const char16_t* const kKeyNames[] = {u"Qa", u"qA", u"Rb", u"s c", u"T\u00e4", u"t\u00c4",
                                     u"\u20acu", u"x\u0416"};
// Value names, the empty one being the key's default value.
const char16_t* const kValueNames[] = {u"", u"v", u"V", u"w\u00e9", u"W\u00c9", u"n\u0416"};
// Characters of texts: the percent sign for the expandable rule, a zero character, letters in
// and outside the code page.
const char16_t kTextChars[] = {u'a', u'A', u'b', u'%', u'%', u'\0', u'\u00e4', u'\u20ac', u'\u0416', u' '};

// An environment variable whose name the characters of texts can spell ("%A%", "%a%").
const std::string kVariable = "a";
const std::string kVariableValue = "[\xE4%b%]";

constexpr std::int32_t kRoots[] = {
    static_cast<std::int32_t>(0x80000000u),  // HKEY_CLASSES_ROOT
    static_cast<std::int32_t>(0x80000001u),  // HKEY_CURRENT_USER
    static_cast<std::int32_t>(0x80000002u),  // HKEY_LOCAL_MACHINE
    static_cast<std::int32_t>(0x80000002u),
    0,                                       // never set
    0x12345678,                              // not a root
};

// --- the model ---------------------------------------------------------------------------------

unsigned char FoldByte(unsigned char b) {
  if (b >= 'a' && b <= 'z') return static_cast<unsigned char>(b - 0x20);
  if (b >= 0xE0 && b <= 0xFE && b != 0xF7) return static_cast<unsigned char>(b - 0x20);
  switch (b) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
    default: return b;
  }
}

std::string FoldAnsi(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(FoldByte(static_cast<unsigned char>(c)));
  return out;
}

bool Same(const std::string& a, const std::string& b) { return FoldAnsi(a) == FoldAnsi(b); }

struct MKey {
  std::string name;  // ANSI, as first written
  std::vector<std::unique_ptr<MKey>> subkeys;                 // creation order
  std::vector<std::pair<std::string, sim::RegValue>> values;  // creation order

  MKey* Sub(const std::string& n) const {
    for (const auto& s : subkeys)
      if (Same(s->name, n)) return s.get();
    return nullptr;
  }
  sim::RegValue* Value(const std::string& n) {
    for (auto& v : values)
      if (Same(v.first, n)) return &v.second;
    return nullptr;
  }
};

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : path) {
    if (c == '\\') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

class Model {
 public:
  // The registry's contents as they are now.
  void Load(const sim::SimRegistry& registry) {
    for (auto& r : roots_) r = std::make_unique<MKey>();
    for (const sim::RegKeyDump& k : registry.Dump()) {
      std::vector<std::string> parts = Split(k.path);
      const int root = RootIndexOfName(parts.front());
      MKey* n = roots_[root].get();
      for (std::size_t i = 1; i < parts.size(); ++i) n = Create(n, parts[i]);
      n->values = k.values;
    }
  }

  // Index 0..3 of a predefined root handle value, or -1.
  static int RootIndex(std::int32_t classKey) {
    const auto u = static_cast<std::uint32_t>(classKey);
    return u >= 0x80000000u && u <= 0x80000003u ? static_cast<int>(u - 0x80000000u) : -1;
  }

  // The physical place of a path below a root, in the 32-bit view (every operation but
  // Value64bit) or the 64-bit one: HKLM\Software\X of the 32-bit view is
  // HKLM\SOFTWARE\Wow6432Node\X.
  static std::vector<std::string> Physical(int root, const std::string& path, bool view32) {
    std::vector<std::string> parts = Split(path);
    if (view32 && root == 2 && parts.size() >= 2 && Same(parts[0], "Software") &&
        !Same(parts[1], "Wow6432Node"))
      parts.insert(parts.begin() + 1, "Wow6432Node");
    return parts;
  }

  MKey* Find(int root, const std::vector<std::string>& parts) const {
    MKey* n = roots_[root].get();
    for (const auto& p : parts) {
      n = n->Sub(p);
      if (!n) return nullptr;
    }
    return n;
  }

  // Creates the missing keys of the path as RegCreateKeyExA does; null when Windows refuses
  // (a new key directly below HKEY_LOCAL_MACHINE or HKEY_USERS).
  MKey* CreatePath(int root, const std::vector<std::string>& parts) {
    MKey* n = roots_[root].get();
    std::size_t i = 0;
    for (; i < parts.size(); ++i) {
      MKey* s = n->Sub(parts[i]);
      if (!s) break;
      n = s;
    }
    if (i < parts.size() && n == roots_[root].get() && (root == 2 || root == 3)) return nullptr;
    for (; i < parts.size(); ++i) n = Create(n, parts[i]);
    return n;
  }

  // False when the key has subkeys or is a root.
  bool Delete(int root, const std::vector<std::string>& parts) {
    if (parts.empty()) return false;
    MKey* parent = Find(root, std::vector<std::string>(parts.begin(), parts.end() - 1));
    if (!parent) return false;
    auto it = std::find_if(parent->subkeys.begin(), parent->subkeys.end(),
                           [&](const auto& s) { return Same(s->name, parts.back()); });
    if (it == parent->subkeys.end() || !(*it)->subkeys.empty()) return false;
    parent->subkeys.erase(it);
    return true;
  }

 private:
  static int RootIndexOfName(const std::string& name) {
    const char* const names[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                 "HKEY_USERS"};
    for (int i = 0; i < 4; ++i)
      if (name == names[i]) return i;
    Fail("unknown root in the registry's dump: " + name);
  }
  static MKey* Create(MKey* parent, const std::string& name) {
    if (MKey* s = parent->Sub(name)) return s;
    parent->subkeys.push_back(std::make_unique<MKey>());
    parent->subkeys.back()->name = name;
    return parent->subkeys.back().get();
  }

  std::unique_ptr<MKey> roots_[4];
};

// --- one sequence ------------------------------------------------------------------------------

class Sequence {
 public:
  Sequence(Input& in, int processBits)
      : in_(in),
        registry_(kernel_, 64, processBits),
        object_(codePage_, registry_, u"QV3Update", processBits) {
    // The one environment variable the sequences can name; no other name they spell is one.
    registry_.SetEnvironment(kVariable, kVariableValue);
    model_.Load(registry_);
  }

  void Run() {
    for (int step = 0; step < 64 && !in_.Empty(); ++step) Step();
  }

 private:
  // --- inputs
  Text KeyPath(int rootIndex) {
    Text path;
    const std::size_t depth = in_.Pick(4);
    // Below HKEY_LOCAL_MACHINE mostly in Software, where the views differ.
    if (rootIndex == 2 && in_.Pick(4) != 0) path = u"Software";
    for (std::size_t i = 0; i < depth; ++i) {
      if (!path.empty()) path += u'\\';
      path += in_.From(kKeyNames);
    }
    return path;
  }
  Text SomeText() {
    Text t;
    const std::size_t n = in_.Pick(7);
    for (std::size_t i = 0; i < n; ++i) t += in_.From(kTextChars);
    return t;
  }
  Variant SomeVariant() {
    switch (in_.Pick(8)) {
      case 0: return Variant();
      case 1:
      case 2: return Variant(SomeText());
      case 3: return Variant(static_cast<std::int16_t>(in_.Dword()));
      case 4: return Variant(static_cast<std::int32_t>(in_.Dword()));
      case 5: {
        ByteArray b(in_.Pick(6));
        for (auto& x : b) x = in_.Byte();
        return Variant(std::move(b));
      }
      case 6: return Variant(static_cast<double>(static_cast<std::int16_t>(in_.Dword())) / 4);
      default: return Variant(in_.Flag());
    }
  }
  std::int32_t SomeType() {
    static const std::int32_t types[] = {1, 1, 2, 3, 4, 4, 5, 0, 7, -1};
    return in_.From(types);
  }

  // --- helpers
  std::string Ansi(const Text& t) { return codePage_.ToAnsi(t).bytes(); }
  Text FromAnsi(const std::string& s) { return codePage_.FromAnsi(AnsiString(s)); }
  // True when the code page carries the text unchanged: its ANSI form (with Windows' best fit
  // and "?") reads back as the same text.
  bool Carried(const Text& t) { return FromAnsi(Ansi(t)) == t; }
  // The error cRegistry raises for a text the code page cannot carry.
  static Text AnsiTextError(const Text& t) {
    return u"The text '" + t +
           u"' cannot be passed to Windows unchanged: the system code page 1252 lacks some of "
           u"its characters.";
  }
  // The first of these texts the code page cannot carry, if any.
  std::optional<Text> FirstLost(std::initializer_list<Text> texts) {
    for (const Text& t : texts)
      if (!Carried(t)) return t;
    return std::nullopt;
  }
  // Expects the operation to raise kErrAnsiText for `lost`.
  template <typename F>
  void ExpectAnsiRaise(F&& f, const Text& lost, const char* op) {
    ExpectRaise(std::forward<F>(f), kErrAnsiText, AnsiTextError(lost), op);
  }
  int Root() const { return Model::RootIndex(object_.ClassKey()); }
  std::vector<std::string> Place(bool view32) const {
    return Model::Physical(Root(), codePage_.ToAnsi(object_.SectionKey()).bytes(), view32);
  }
  std::string Where() const {
    return "root " + std::to_string(object_.ClassKey()) + " key '" + Show(object_.SectionKey()) +
           "' value '" + Show(object_.ValueKey()) + "' type " + std::to_string(object_.ValueType());
  }
  Text RootText() const { return IntToText(object_.ClassKey()); }

  void ExpectError(const Error& e, std::int32_t number, const Text& description,
                   const char* op) {
    Check(e.number() == number, std::string(op) + ": error " + std::to_string(e.number()) +
                                    " instead of " + std::to_string(number) + " at " + Where());
    if (number == cRegistry::kErrKey && description.empty()) {
      Check(e.description().empty(), std::string(op) + ": the binary-type error has a text");
      return;
    }
    Check(e.source() == u"QV3Update.cRegistry", std::string(op) + ": source " + Show(e.source()));
    Check(e.description() == description, std::string(op) + ": description '" +
                                              Show(e.description()) + "' instead of '" +
                                              Show(description) + "'");
  }

  template <typename F>
  void ExpectRaise(F&& f, std::int32_t number, const Text& description, const char* op) {
    try {
      f();
    } catch (const Error& e) {
      ExpectError(e, number, description, op);
      return;
    }
    Fail(std::string(op) + " raised nothing at " + Where());
  }

  template <typename F>
  void ExpectNoRaise(F&& f, const char* op) {
    try {
      f();
    } catch (const Error& e) {
      Fail(std::string(op) + " raised " + std::to_string(e.number()) + " '" +
           Show(e.description()) + "' at " + Where());
    }
  }

  // --- the model's answers
  // ExpandEnvironmentStrings: %name% of a defined variable (names without regard to case) is
  // replaced; any other reference stays as written, and its closing "%" may open the next one.
  static std::string Expand(const std::string& src) {
    std::string out;
    std::size_t i = 0;
    while (i < src.size()) {
      const std::size_t close = src[i] == '%' ? src.find('%', i + 1) : std::string::npos;
      if (close != std::string::npos && close > i + 1) {
        if (Same(src.substr(i + 1, close - i - 1), kVariable)) {
          out += kVariableValue;
          i = close + 1;
        } else {
          out += src.substr(i, close - i);
          i = close;
        }
        continue;
      }
      out.push_back(src[i++]);
    }
    return out;
  }

  Variant ExpectedRead() {
    const int root = Root();
    if (root < 0) return object_.Default();
    MKey* key = model_.Find(root, Place(true));
    if (!key) return object_.Default();
    sim::RegValue* v = key->Value(Ansi(object_.ValueKey()));
    if (!v) return object_.Default();
    expectedType_ = static_cast<std::int32_t>(v->type);
    const std::vector<std::uint8_t>& d = v->data;
    const std::string bytes(d.begin(), d.end());
    switch (v->type) {
      case win::REG_SZ:
      case win::REG_MULTI_SZ:
        if (d.empty()) return object_.Default();
        return Variant(FromAnsi(bytes.substr(0, bytes.size() - 1)));
      case win::REG_EXPAND_SZ: {
        if (d.empty()) return Variant(Text());
        // The ANSI call sees the text up to its first zero character.
        std::string text = Ansi(FromAnsi(bytes.substr(0, bytes.size() - 1)));
        return Variant(FromAnsi(Expand(text.substr(0, text.find('\0')))));
      }
      case win::REG_DWORD:
      case win::REG_DWORD_BIG_ENDIAN: {
        // Data longer than 4 bytes does not fit the number: the read fails and the number
        // keeps the 0 it was set to.
        std::uint32_t n = 0;
        if (d.size() <= 4)
          for (std::size_t i = 0; i < d.size(); ++i) n |= static_cast<std::uint32_t>(d[i]) << (8 * i);
        if (v->type == win::REG_DWORD_BIG_ENDIAN)
          n = (n >> 24) | ((n >> 8) & 0xFF00u) | ((n << 8) & 0xFF0000u) | (n << 24);
        return Variant(static_cast<std::int32_t>(n));
      }
      default: {
        ByteArray b(d.begin(), d.end());
        b.push_back(0);
        return Variant(std::move(b));
      }
    }
  }

  void Write(const Variant& value, bool view64) {
    const char* op = view64 ? "Value64bit" : "Value";
    const int root = Root();
    auto write = [&] {
      if (view64)
        object_.Value64bit(value);
      else
        object_.Value(value);
    };
    // Every text is checked before the key is created: nothing is created for a lost one.
    const std::int32_t type = object_.ValueType();
    const bool isText = type == 1 || type == 2;
    if (const auto lost = FirstLost({object_.SectionKey(), object_.ValueKey(),
                                     isText ? value.ToText() : Text()})) {
      ExpectAnsiRaise(write, *lost, op);
      return;
    }
    MKey* key = root < 0 ? nullptr : model_.CreatePath(root, Place(!view64));
    const Text failure = u"Failed to set registry value Key: '" + RootText() + u"',Section: '" +
                         object_.SectionKey() + u"',Key: '" + object_.ValueKey() +
                         u"' to value: '" + value.ToText() + u"'";
    if (!key) {
      ExpectNoRaise(write, op);  // the key can neither be created nor opened: nothing happens
      return;
    }
    sim::RegValue stored;
    if (isText) {
      const Text text = value.ToText();
      const std::size_t first = text.find(u'%');
      const bool expandable = first != Text::npos && text.find(u'%', first + 2) != Text::npos;
      stored.type = expandable ? win::REG_EXPAND_SZ : win::REG_SZ;
      const std::string bytes = Ansi(text);
      stored.data.assign(bytes.begin(), bytes.end());
      stored.data.push_back(0);
    } else if (type == 3 && value.IsByteArray()) {
      stored.type = win::REG_BINARY;
      stored.data = value.AsBytes();
    } else if (type == 3) {
      ExpectRaise(write, cRegistry::kErrKey, Text(), op);
      return;
    } else if ((type == 4 || type == 5) && value.IsInteger()) {
      const auto n = static_cast<std::uint32_t>(value.AsInt32());
      stored.type = win::REG_DWORD;
      for (int i = 0; i < 4; ++i) stored.data.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    } else {
      ExpectRaise(write, cRegistry::kErrSetValue, failure, op);
      return;
    }
    ExpectNoRaise(write, op);
    const std::string name = Ansi(object_.ValueKey());
    if (sim::RegValue* existing = key->Value(name))
      *existing = stored;
    else
      key->values.emplace_back(name, stored);
  }

  // --- the operations
  void Step() {
    const bool faulty = in_.Pick(8) == 0;
    if (faulty) kernel_.FailCallNumber(kernel_.CallCount() + 1 + in_.Pick(4));
    const std::size_t op = in_.Pick(14);
    if (faulty) {
      try {
        Operate(op, true);
      } catch (const Error& e) {
        // kErrAnsiText only for a text the code page cannot carry, whatever call fails.
        const bool lostText =
            e.number() == kErrAnsiText && e.source() == u"QV3Update.cRegistry" &&
            std::any_of(faultyTexts_.begin(), faultyTexts_.end(), [&](const Text& t) {
              return !Carried(t) && e.description() == AnsiTextError(t);
            });
        Check(e.number() == cRegistry::kErrKey || e.number() == cRegistry::kErrSetValue ||
                  e.number() == cRegistry::kErrEnumerate || lostText,
              "a failing call raised error " + std::to_string(e.number()) + " '" +
                  Show(e.description()) + "' at " + Where());
      }
      kernel_.FailCallNumber(0);
      model_.Load(registry_);
      // A failed read may or may not have reached the value; take the object's word for it.
      expectedType_ = object_.ValueType();
    } else {
      Operate(op, false);
      Check(object_.ValueType() == expectedType_,
            "ValueType " + std::to_string(object_.ValueType()) + " instead of " +
                std::to_string(expectedType_) + " after operation " + std::to_string(op));
    }
    Check(kernel_.OpenHandleCount() == 0,
          "a key handle stayed open after operation " + std::to_string(op) + " at " + Where());
  }

  void Operate(std::size_t op, bool faulty) {
    // The texts an operation converts, for the check of a failing operation's error.
    faultyTexts_ = {object_.SectionKey(), object_.ValueKey()};
    // The section is converted before anything else in every registry operation.
    const std::optional<Text> lostSection =
        op >= 4 && op <= 12 && !Carried(object_.SectionKey())
            ? std::optional<Text>(object_.SectionKey())
            : std::nullopt;
    switch (op) {
      case 0: {  // the location
        object_.ClassKey(in_.From(kRoots));
        object_.SectionKey(KeyPath(Root()));
        return;
      }
      case 1:
        object_.ValueKey(in_.From(kValueNames));
        return;
      case 2:
        expectedType_ = SomeType();
        object_.ValueType(expectedType_);
        return;
      case 3:
        object_.Default(SomeVariant());
        return;
      case 4: {  // KeyExists
        if (lostSection) {
          ExpectAnsiRaise([&] { object_.KeyExists(); }, *lostSection, "KeyExists");
          return;
        }
        const bool got = object_.KeyExists();
        if (faulty) return;
        const bool want = Root() >= 0 && model_.Find(Root(), Place(true)) != nullptr;
        Check(got == want, "KeyExists " + std::to_string(got) + " at " + Where());
        return;
      }
      case 5: {  // CreateKey
        if (lostSection) {
          ExpectAnsiRaise([&] { object_.CreateKey(); }, *lostSection, "CreateKey");
          return;
        }
        if (faulty) {
          object_.CreateKey();
          return;
        }
        MKey* made = Root() < 0 ? nullptr : model_.CreatePath(Root(), Place(true));
        if (made)
          ExpectNoRaise([&] { Check(object_.CreateKey(), "CreateKey gave false"); }, "CreateKey");
        else
          ExpectRaise([&] { object_.CreateKey(); }, cRegistry::kErrKey,
                      u"Failed to create registry Key: '" + object_.SectionKey(), "CreateKey");
        return;
      }
      case 6: {  // DeleteKey
        if (lostSection) {
          ExpectAnsiRaise([&] { object_.DeleteKey(); }, *lostSection, "DeleteKey");
          return;
        }
        if (faulty) {
          object_.DeleteKey();
          return;
        }
        const bool deleted = Root() >= 0 && model_.Delete(Root(), Place(true));
        if (deleted)
          ExpectNoRaise([&] { Check(object_.DeleteKey(), "DeleteKey gave false"); }, "DeleteKey");
        else
          ExpectRaise([&] { object_.DeleteKey(); }, cRegistry::kErrKey,
                      u"Failed to delete registry Key: '" + RootText() + u"',Section: '" +
                          object_.SectionKey(),
                      "DeleteKey");
        return;
      }
      case 7: {  // DeleteValue
        if (lostSection) {
          ExpectAnsiRaise([&] { object_.DeleteValue(); }, *lostSection, "DeleteValue");
          return;
        }
        if (faulty) {
          object_.DeleteValue();
          return;
        }
        MKey* key = Root() < 0 ? nullptr : model_.Find(Root(), Place(true));
        if (!key) {
          ExpectRaise([&] { object_.DeleteValue(); }, cRegistry::kErrKey,
                      u"Failed to open key '" + RootText() + u"',Section: '" +
                          object_.SectionKey() + u"' for delete access",
                      "DeleteValue");
          return;
        }
        // The value's name is converted once the key is open.
        if (!Carried(object_.ValueKey())) {
          ExpectAnsiRaise([&] { object_.DeleteValue(); }, object_.ValueKey(), "DeleteValue");
          return;
        }
        const std::string name = Ansi(object_.ValueKey());
        auto it = std::find_if(key->values.begin(), key->values.end(),
                               [&](const auto& v) { return Same(v.first, name); });
        if (it == key->values.end()) {
          ExpectRaise([&] { object_.DeleteValue(); }, cRegistry::kErrKey,
                      u"Failed to delete registry Key: '" + RootText() + u"',Section: '" +
                          object_.SectionKey() + u"',Key: '" + object_.ValueKey(),
                      "DeleteValue");
          return;
        }
        key->values.erase(it);
        ExpectNoRaise([&] { Check(object_.DeleteValue(), "DeleteValue gave false"); },
                      "DeleteValue");
        return;
      }
      case 8: {  // Value read
        if (const auto lost = FirstLost({object_.SectionKey(), object_.ValueKey()})) {
          // Raised before the key is opened: the value type stays as it was.
          ExpectAnsiRaise([&] { object_.Value(); }, *lost, "Value read");
          return;
        }
        if (faulty) {
          object_.Value();
          return;
        }
        const Variant want = ExpectedRead();
        const Variant got = object_.Value();
        Check(got == want, "Value read '" + Show(got.ToText()) + "' instead of '" +
                               Show(want.ToText()) + "' at " + Where());
        return;
      }
      case 9:
      case 10: {  // Value / Value64bit write
        const Variant value = SomeVariant();
        if (faulty) {
          faultyTexts_.push_back(value.ToText());
          if (op == 10)
            object_.Value64bit(value);
          else
            object_.Value(value);
          return;
        }
        Write(value, op == 10);
        return;
      }
      case 11: {  // EnumerateValues
        std::vector<Text> names = {u"left over"};
        std::int32_t count = 99;
        if (lostSection) {
          ExpectAnsiRaise([&] { object_.EnumerateValues(names, count); }, *lostSection,
                          "EnumerateValues");
          return;
        }
        Check(object_.EnumerateValues(names, count), "EnumerateValues gave false");
        if (faulty) return;
        Check(count == static_cast<std::int32_t>(names.size()), "EnumerateValues count");
        std::vector<Text> want;
        if (Root() >= 0)
          if (MKey* key = model_.Find(Root(), Place(true)))
            for (const auto& v : key->values) want.push_back(FromAnsi(v.first));
        Check(names == want, "EnumerateValues names at " + Where());
        return;
      }
      case 12: {  // EnumerateSections
        std::vector<Text> names = {u"left over"};
        std::int32_t count = 99;
        if (lostSection) {
          // Raised again as the enumeration's own error, with the same description.
          ExpectRaise([&] { object_.EnumerateSections(names, count); }, cRegistry::kErrEnumerate,
                      AnsiTextError(*lostSection), "EnumerateSections");
          return;
        }
        Check(object_.EnumerateSections(names, count), "EnumerateSections gave false");
        if (faulty) return;
        Check(count == static_cast<std::int32_t>(names.size()), "EnumerateSections count");
        std::vector<Text> want;
        if (Root() >= 0)
          if (MKey* key = model_.Find(Root(), Place(true))) {
            std::vector<const MKey*> subs;
            for (const auto& s : key->subkeys) subs.push_back(s.get());
            // As the system lists them: by name without regard to case.
            std::stable_sort(subs.begin(), subs.end(), [](const MKey* a, const MKey* b) {
              return FoldAnsi(a->name) < FoldAnsi(b->name);
            });
            for (const MKey* s : subs) want.push_back(FromAnsi(s->name));
          }
        Check(names == want, "EnumerateSections names at " + Where());
        return;
      }
      default: {  // a value another program left, of any type and size
        if (faulty || Root() < 0) return;
        const std::vector<std::string> place = Place(true);
        if (!model_.Find(Root(), place) || place.empty()) return;
        sim::RegValue v;
        v.type = in_.Pick(12);
        const std::size_t n = in_.Pick(9);
        for (std::size_t i = 0; i < n; ++i)
          v.data.push_back(static_cast<std::uint8_t>(Ansi(Text(1, in_.From(kTextChars)))[0]));
        static const char* const roots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                            "HKEY_LOCAL_MACHINE", "HKEY_USERS"};
        std::string physical = roots[Root()];
        for (const auto& p : place) physical += "\\" + p;
        const std::string name = Ansi(object_.ValueKey());
        registry_.SetValue(physical, name, v);
        MKey* key = model_.Find(Root(), place);
        if (sim::RegValue* existing = key->Value(name))
          *existing = v;
        else
          key->values.emplace_back(name, v);
        return;
      }
    }
  }

  Input& in_;
  sim::SimKernel kernel_;
  mutable sim::SimCodePage codePage_;
  sim::SimRegistry registry_;
  cRegistry object_;
  Model model_;
  std::int32_t expectedType_ = 0;
  std::vector<Text> faultyTexts_;
};

}  // namespace
}  // namespace qv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qv::fuzz::Input in(data, size);
  const int processBits = in.Flag() ? 64 : 32;
  qv::fuzz::Sequence sequence(in, processBits);
  sequence.Run();
  return 0;
}

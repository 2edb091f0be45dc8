#include "platform/sim/sim_registry.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace qv::sim {

// ---------------------------------------------------------------------------------------------
// The registry

namespace {

using win::DWORD;
using win::HKEY;
using win::LONG;
using win::REGSAM;

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

std::string Fold(const std::string& s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(FoldByte(static_cast<unsigned char>(c)));
  return out;
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && Fold(a) == Fold(b);
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string current;
  for (const char c : path) {
    if (c == '\\') {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

std::string Hex(std::uint64_t v) {
  std::ostringstream s;
  s << "0x" << std::hex << std::uppercase << v;
  return s.str();
}

constexpr REGSAM kReadRights = win::KEY_QUERY_VALUE | win::KEY_ENUMERATE_SUB_KEYS;
constexpr REGSAM kWriteRights = win::KEY_SET_VALUE | win::KEY_CREATE_SUB_KEY | win::DELETE;

enum Root { kClassesRoot = 0, kCurrentUser = 1, kLocalMachine = 2, kUsers = 3, kRootCount = 4 };
const char* const kRootNames[kRootCount] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                             "HKEY_LOCAL_MACHINE", "HKEY_USERS"};
const char* const kRootShortNames[kRootCount] = {"HKCR", "HKCU", "HKLM", "HKU"};

}  // namespace

struct SimRegistry::Impl {
  struct Node {
    std::string name;
    Node* parent = nullptr;
    std::vector<std::shared_ptr<Node>> subkeys;  // creation order
    std::vector<std::pair<std::string, RegValue>> values;  // creation order
    bool denyRead = false;
    bool denyWrite = false;
    std::optional<LONG> refuseValueWrites;
    bool deleted = false;

    Node* FindSub(const std::string& n) const {
      for (const auto& s : subkeys)
        if (SameName(s->name, n)) return s.get();
      return nullptr;
    }
    std::pair<std::string, RegValue>* FindValue(const std::string& n) {
      for (auto& v : values)
        if (SameName(v.first, n)) return &v;
      return nullptr;
    }
    // Subkeys as the system enumerates them: sorted without regard to case.
    std::vector<Node*> SortedSubkeys() const {
      std::vector<Node*> out;
      for (const auto& s : subkeys) out.push_back(s.get());
      std::stable_sort(out.begin(), out.end(),
                       [](const Node* a, const Node* b) { return Fold(a->name) < Fold(b->name); });
      return out;
    }
  };

  // An open key: where it is, the view it was opened in and the rights granted.
  struct OpenKey {
    std::shared_ptr<Node> node;
    int root;
    std::vector<std::string> logical;  // path below the root as the program named it
    bool view32;
    REGSAM access;
  };

  SimKernel& kernel;
  int windowsBits;
  int processBits;
  std::shared_ptr<Node> roots[kRootCount];
  std::map<std::uintptr_t, OpenKey> open;
  std::vector<RegChange> changes;
  std::vector<std::pair<std::string, std::string>> environment;

  Impl(SimKernel& k, int wb, int pb) : kernel(k), windowsBits(wb), processBits(pb) {
    for (int r = 0; r < kRootCount; ++r) {
      roots[r] = std::make_shared<Node>();
      roots[r]->name = kRootNames[r];
    }
    CreatePhysical(kLocalMachine, {"SOFTWARE", "Microsoft", "Windows", "CurrentVersion", "Run"});
    CreatePhysical(kLocalMachine, {"SOFTWARE", "Classes"});
    CreatePhysical(kCurrentUser, {"Software", "Microsoft"});
    CreatePhysical(kClassesRoot, {"CLSID"});
    // The Application event log's sources, which every Windows has.
    CreatePhysical(kLocalMachine, {"SYSTEM", "CurrentControlSet", "Services", "EventLog", "Application"});
    if (windowsBits == 64) {
      CreatePhysical(kLocalMachine,
                     {"SOFTWARE", "Wow6432Node", "Microsoft", "Windows", "CurrentVersion", "Run"});
      CreatePhysical(kClassesRoot, {"Wow6432Node", "CLSID"});
    }
    const bool wow = windowsBits == 64 && processBits == 32;
    environment = {
        {"ALLUSERSPROFILE", "C:\\ProgramData"},
        {"APPDATA", "C:\\Users\\qvuser\\AppData\\Roaming"},
        {"CommonProgramFiles",
         wow ? "C:\\Program Files (x86)\\Common Files" : "C:\\Program Files\\Common Files"},
        {"ComSpec", "C:\\Windows\\system32\\cmd.exe"},
        {"LOCALAPPDATA", "C:\\Users\\qvuser\\AppData\\Local"},
        {"ProgramData", "C:\\ProgramData"},
        {"ProgramFiles", wow ? "C:\\Program Files (x86)" : "C:\\Program Files"},
        {"SystemDrive", "C:"},
        {"SystemRoot", "C:\\Windows"},
        {"TEMP", "C:\\Users\\qvuser\\AppData\\Local\\Temp"},
        {"TMP", "C:\\Users\\qvuser\\AppData\\Local\\Temp"},
        {"USERNAME", "qvuser"},
        {"USERPROFILE", "C:\\Users\\qvuser"},
        {"windir", "C:\\Windows"},
    };
    if (windowsBits == 64) {
      environment.emplace_back("ProgramFiles(x86)", "C:\\Program Files (x86)");
      environment.emplace_back("ProgramW6432", "C:\\Program Files");
    }
  }

  Node* CreatePhysical(int root, const std::vector<std::string>& parts) {
    Node* n = roots[root].get();
    for (const auto& p : parts) {
      Node* s = n->FindSub(p);
      if (!s) {
        auto made = std::make_shared<Node>();
        made->name = p;
        made->parent = n;
        n->subkeys.push_back(made);
        s = made.get();
      }
      n = s;
    }
    return n;
  }

  // "HKLM\\Software\\X" -> root and parts; false when the root is not known.
  static bool ParsePhysical(const std::string& path, int& root, std::vector<std::string>& parts) {
    parts = SplitPath(path);
    if (parts.empty()) return false;
    for (int r = 0; r < kRootCount; ++r) {
      if (SameName(parts[0], kRootNames[r]) || SameName(parts[0], kRootShortNames[r])) {
        root = r;
        parts.erase(parts.begin());
        return true;
      }
    }
    return false;
  }

  Node* FindPhysical(const std::string& path) const {
    int root = 0;
    std::vector<std::string> parts;
    if (!ParsePhysical(path, root, parts)) return nullptr;
    Node* n = roots[root].get();
    for (const auto& p : parts) {
      n = n->FindSub(p);
      if (!n) return nullptr;
    }
    return n;
  }

  std::string PhysicalPath(const Node* n) const {
    std::string path;
    for (const Node* k = n; k; k = k->parent) path = k->name + (path.empty() ? "" : "\\") + path;
    return path;
  }

  // The physical place of a path as the program names it, in a view. A 32-bit program on
  // 64-bit Windows sees HKLM\Software\X at HKLM\Software\Wow6432Node\X and HKCR\CLSID\X at
  // HKCR\Wow6432Node\CLSID\X.
  std::vector<std::string> Redirect(int root, std::vector<std::string> logical, bool view32) const {
    if (!view32 || windowsBits != 64) return logical;
    if (root == kLocalMachine && logical.size() >= 2 && SameName(logical[0], "Software") &&
        !SameName(logical[1], "Wow6432Node"))
      logical.insert(logical.begin() + 1, "Wow6432Node");
    else if (root == kClassesRoot && !logical.empty() && SameName(logical[0], "CLSID"))
      logical.insert(logical.begin(), "Wow6432Node");
    return logical;
  }

  int PredefinedRoot(HKEY h) const {
    const std::uintptr_t v = win::HandleValue(h);
    const std::uint32_t low = static_cast<std::uint32_t>(v);
    const std::uintptr_t high = v - low;
    const bool signExtended = high == 0 || high == (~std::uintptr_t{0} - 0xFFFFFFFFu);
    if (!signExtended || low < 0x80000000u || low > 0x80000003u) return -1;
    return static_cast<int>(low - 0x80000000u);
  }

  // The key a handle stands for (a predefined root or an open key).
  struct Base {
    bool valid = false;
    std::shared_ptr<Node> node;
    int root = 0;
    std::vector<std::string> logical;
    bool view32 = false;
    REGSAM access = 0;
    bool isRoot = false;
  };

  bool DefaultView32() const { return windowsBits == 64 && processBits == 32; }

  Base Resolve(HKEY h) const {
    Base b;
    const int root = PredefinedRoot(h);
    if (root >= 0) {
      b.valid = true;
      b.node = roots[root];
      b.root = root;
      b.view32 = DefaultView32();
      b.access = 0xFFFFFFFFu;
      b.isRoot = true;
      return b;
    }
    auto it = open.find(win::HandleValue(h));
    if (it == open.end() || !kernel.IsOpen(it->first, HandleKind::RegistryKey)) return b;
    b.valid = true;
    b.node = it->second.node;
    b.root = it->second.root;
    b.logical = it->second.logical;
    b.view32 = it->second.view32;
    b.access = it->second.access;
    return b;
  }

  bool ViewFor(const Base& base, REGSAM sam) const {
    if (windowsBits != 64) return false;
    if (sam & win::KEY_WOW64_64KEY) return false;
    if (sam & win::KEY_WOW64_32KEY) return true;
    return base.view32;
  }

  std::string Describe(HKEY h) const {
    const int root = PredefinedRoot(h);
    if (root >= 0) return kRootNames[root];
    auto it = open.find(win::HandleValue(h));
    if (it != open.end()) return PhysicalPath(it->second.node.get());
    return "<handle " + Hex(win::HandleValue(h)) + ">";
  }

  static std::string Sub(const char* s) { return s ? std::string(s) : std::string(); }

  std::shared_ptr<Node> Shared(Node* n) const {
    if (!n->parent) {
      for (const auto& r : roots)
        if (r.get() == n) return r;
      return nullptr;
    }
    for (const auto& s : n->parent->subkeys)
      if (s.get() == n) return s;
    return nullptr;
  }

  HKEY NewHandle(Node* node, int root, std::vector<std::string> logical, bool view32,
                 REGSAM access) {
    const std::uintptr_t v =
        kernel.OpenHandle(HandleKind::RegistryKey, PhysicalPath(node));
    open[v] = OpenKey{Shared(node), root, std::move(logical), view32, access};
    return win::MakeHandle<HKEY>(v);
  }

  LONG CheckRights(const Node* n, REGSAM sam) const {
    if (n->denyRead && (sam & kReadRights)) return win::ERROR_ACCESS_DENIED;
    if (n->denyWrite && (sam & kWriteRights)) return win::ERROR_ACCESS_DENIED;
    return win::ERROR_SUCCESS;
  }

  static void PutHandle(HKEY* out, HKEY value) {
    if (out) *out = value;
  }

  void DeleteNode(Node* n) {
    n->deleted = true;
    Node* parent = n->parent;
    auto& subs = parent->subkeys;
    subs.erase(std::remove_if(subs.begin(), subs.end(),
                              [n](const std::shared_ptr<Node>& s) { return s.get() == n; }),
               subs.end());
  }

  LONG DeleteKey(const char* fn, HKEY hKey, const char* lpSubKey, REGSAM sam) {
    const std::string sub = Sub(lpSubKey);
    if (auto f = kernel.Enter(fn, Describe(hKey) + "\\" + sub))
      return *f ? static_cast<LONG>(*f) : win::ERROR_ACCESS_DENIED;
    if (!lpSubKey) return win::ERROR_INVALID_PARAMETER;
    const Base base = Resolve(hKey);
    if (!base.valid) return win::ERROR_INVALID_HANDLE;
    if (base.node->deleted) return win::ERROR_KEY_DELETED;
    std::vector<std::string> logical = base.logical;
    for (auto& p : SplitPath(sub)) logical.push_back(p);
    if (logical.empty()) return win::ERROR_ACCESS_DENIED;  // a predefined root
    const bool view32 = ViewFor(base, sam);
    Node* n = roots[base.root].get();
    for (const auto& p : Redirect(base.root, logical, view32)) {
      n = n->FindSub(p);
      if (!n) return win::ERROR_FILE_NOT_FOUND;
    }
    if (n->denyWrite) return win::ERROR_ACCESS_DENIED;
    if (!n->subkeys.empty()) return win::ERROR_ACCESS_DENIED;
    changes.push_back(RegChange{RegChange::Kind::KeyDeleted, PhysicalPath(n), {}, {}, {}});
    DeleteNode(n);
    return win::ERROR_SUCCESS;
  }
};

SimRegistry::SimRegistry(SimKernel& kernel, int windowsBits, int processBits)
    : impl_(std::make_unique<Impl>(kernel, windowsBits, processBits)) {}

SimRegistry::~SimRegistry() = default;

int SimRegistry::windowsBits() const { return impl_->windowsBits; }
int SimRegistry::processBits() const { return impl_->processBits; }

win::LONG SimRegistry::RegOpenKeyExA(win::HKEY hKey, const char* lpSubKey, win::DWORD,
                                     win::REGSAM samDesired, win::HKEY* phkResult) {
  Impl& m = *impl_;
  const std::string sub = Impl::Sub(lpSubKey);
  if (auto f = m.kernel.Enter("RegOpenKeyExA",
                              m.Describe(hKey) + "\\" + sub + " sam=" + Hex(samDesired))) {
    Impl::PutHandle(phkResult, HKEY{});
    return *f ? static_cast<LONG>(*f) : win::ERROR_ACCESS_DENIED;
  }
  if (!phkResult) return win::ERROR_INVALID_PARAMETER;
  *phkResult = HKEY{};
  const Impl::Base base = m.Resolve(hKey);
  if (!base.valid) return win::ERROR_INVALID_HANDLE;
  if (base.node->deleted) return win::ERROR_KEY_DELETED;
  std::vector<std::string> logical = base.logical;
  for (auto& p : SplitPath(sub)) logical.push_back(p);
  const bool view32 = m.ViewFor(base, samDesired);
  Impl::Node* n = m.roots[base.root].get();
  for (const auto& p : m.Redirect(base.root, logical, view32)) {
    n = n->FindSub(p);
    if (!n) return win::ERROR_FILE_NOT_FOUND;
  }
  if (LONG r = m.CheckRights(n, samDesired)) return r;
  *phkResult = m.NewHandle(n, base.root, std::move(logical), view32, samDesired);
  return win::ERROR_SUCCESS;
}

win::LONG SimRegistry::RegCreateKeyExA(win::HKEY hKey, const char* lpSubKey, win::DWORD,
                                       const char*, win::DWORD, win::REGSAM samDesired,
                                       const win::SECURITY_ATTRIBUTES*, win::HKEY* phkResult,
                                       win::DWORD* lpdwDisposition) {
  Impl& m = *impl_;
  const std::string sub = Impl::Sub(lpSubKey);
  if (auto f = m.kernel.Enter("RegCreateKeyExA",
                              m.Describe(hKey) + "\\" + sub + " sam=" + Hex(samDesired))) {
    Impl::PutHandle(phkResult, HKEY{});
    return *f ? static_cast<LONG>(*f) : win::ERROR_ACCESS_DENIED;
  }
  if (!phkResult) return win::ERROR_INVALID_PARAMETER;
  *phkResult = HKEY{};
  if (!lpSubKey) return win::ERROR_INVALID_PARAMETER;
  const Impl::Base base = m.Resolve(hKey);
  if (!base.valid) return win::ERROR_INVALID_HANDLE;
  if (base.node->deleted) return win::ERROR_KEY_DELETED;
  std::vector<std::string> logical = base.logical;
  for (auto& p : SplitPath(sub)) logical.push_back(p);
  const bool view32 = m.ViewFor(base, samDesired);
  const std::vector<std::string> physical = m.Redirect(base.root, logical, view32);
  // Find how far the path exists, then check that the missing part may be created.
  Impl::Node* n = m.roots[base.root].get();
  std::size_t i = 0;
  for (; i < physical.size(); ++i) {
    Impl::Node* s = n->FindSub(physical[i]);
    if (!s) break;
    n = s;
  }
  const bool creating = i < physical.size();
  if (creating) {
    if (n->denyWrite) return win::ERROR_ACCESS_DENIED;
    if (!n->parent) {
      // Windows refuses to create keys directly under HKEY_LOCAL_MACHINE and HKEY_USERS.
      if (base.root == kLocalMachine || base.root == kUsers) return win::ERROR_ACCESS_DENIED;
    }
    for (; i < physical.size(); ++i) {
      auto made = std::make_shared<Impl::Node>();
      made->name = physical[i];
      made->parent = n;
      n->subkeys.push_back(made);
      n = made.get();
      m.changes.push_back(RegChange{RegChange::Kind::KeyCreated, m.PhysicalPath(n), {}, {}, {}});
    }
  } else if (LONG r = m.CheckRights(n, samDesired)) {
    return r;
  }
  *phkResult = m.NewHandle(n, base.root, logical, view32, samDesired);
  if (lpdwDisposition)
    *lpdwDisposition = creating ? win::REG_CREATED_NEW_KEY : win::REG_OPENED_EXISTING_KEY;
  return win::ERROR_SUCCESS;
}

win::LONG SimRegistry::RegCloseKey(win::HKEY hKey) {
  Impl& m = *impl_;
  const auto f = m.kernel.Enter("RegCloseKey", m.Describe(hKey));
  if (m.PredefinedRoot(hKey) >= 0) {
    // Closing a predefined root closes nothing.
    if (f) return *f ? static_cast<LONG>(*f) : win::ERROR_INVALID_HANDLE;
    return win::ERROR_SUCCESS;
  }
  const std::uintptr_t v = win::HandleValue(hKey);
  auto it = m.open.find(v);
  if (it == m.open.end() || !m.kernel.Close(v, HandleKind::RegistryKey))
    return win::ERROR_INVALID_HANDLE;
  m.open.erase(it);
  // A planned failure still releases the handle: a close that fails leaves nothing to retry.
  if (f) return *f ? static_cast<LONG>(*f) : win::ERROR_INVALID_HANDLE;
  return win::ERROR_SUCCESS;
}

win::LONG SimRegistry::RegDeleteKeyA(win::HKEY hKey, const char* lpSubKey) {
  return impl_->DeleteKey("RegDeleteKeyA", hKey, lpSubKey, 0);
}

win::LONG SimRegistry::RegDeleteKeyExA(win::HKEY hKey, const char* lpSubKey,
                                       win::REGSAM samDesired, win::DWORD) {
  return impl_->DeleteKey("RegDeleteKeyExA", hKey, lpSubKey, samDesired);
}

win::LONG SimRegistry::RegDeleteValueA(win::HKEY hKey, const char* lpValueName) {
  Impl& m = *impl_;
  const std::string name = Impl::Sub(lpValueName);
  if (auto f = m.kernel.Enter("RegDeleteValueA", m.Describe(hKey) + " : " + name))
    return *f ? static_cast<LONG>(*f) : win::ERROR_ACCESS_DENIED;
  const Impl::Base base = m.Resolve(hKey);
  if (!base.valid) return win::ERROR_INVALID_HANDLE;
  if (base.node->deleted) return win::ERROR_KEY_DELETED;
  if (!(base.access & win::KEY_SET_VALUE)) return win::ERROR_ACCESS_DENIED;
  auto& values = base.node->values;
  auto it = std::find_if(values.begin(), values.end(),
                         [&](const auto& v) { return SameName(v.first, name); });
  if (it == values.end()) return win::ERROR_FILE_NOT_FOUND;
  m.changes.push_back(RegChange{RegChange::Kind::ValueDeleted, m.PhysicalPath(base.node.get()),
                                it->first, it->second, std::nullopt});
  values.erase(it);
  return win::ERROR_SUCCESS;
}

win::LONG SimRegistry::RegQueryValueExA(win::HKEY hKey, const char* lpValueName,
                                        win::DWORD* lpReserved, win::DWORD* lpType,
                                        win::BYTE* lpData, win::DWORD* lpcbData) {
  Impl& m = *impl_;
  const std::string name = Impl::Sub(lpValueName);
  if (auto f = m.kernel.Enter("RegQueryValueExA", m.Describe(hKey) + " : " + name))
    return *f ? static_cast<LONG>(*f) : win::ERROR_FILE_NOT_FOUND;
  if (lpReserved) return win::ERROR_INVALID_PARAMETER;
  if (lpData && !lpcbData) return win::ERROR_INVALID_PARAMETER;
  const Impl::Base base = m.Resolve(hKey);
  if (!base.valid) return win::ERROR_INVALID_HANDLE;
  if (base.node->deleted) return win::ERROR_KEY_DELETED;
  if (!(base.access & win::KEY_QUERY_VALUE)) return win::ERROR_ACCESS_DENIED;
  auto* v = base.node->FindValue(name);
  if (!v) return win::ERROR_FILE_NOT_FOUND;
  const RegValue& value = v->second;
  const auto size = static_cast<DWORD>(value.data.size());
  if (lpType) *lpType = value.type;
  if (!lpData) {
    if (lpcbData) *lpcbData = size;
    return win::ERROR_SUCCESS;
  }
  if (*lpcbData < size) {
    *lpcbData = size;
    return win::ERROR_MORE_DATA;
  }
  if (size) std::memcpy(lpData, value.data.data(), size);
  *lpcbData = size;
  return win::ERROR_SUCCESS;
}

win::LONG SimRegistry::RegSetValueExA(win::HKEY hKey, const char* lpValueName, win::DWORD,
                                      win::DWORD dwType, const win::BYTE* lpData,
                                      win::DWORD cbData) {
  Impl& m = *impl_;
  const std::string name = Impl::Sub(lpValueName);
  if (auto f = m.kernel.Enter("RegSetValueExA",
                              m.Describe(hKey) + " : " + name + " type=" + std::to_string(dwType)))
    return *f ? static_cast<LONG>(*f) : win::ERROR_ACCESS_DENIED;
  const Impl::Base base = m.Resolve(hKey);
  if (!base.valid) return win::ERROR_INVALID_HANDLE;
  if (base.node->deleted) return win::ERROR_KEY_DELETED;
  if (!(base.access & win::KEY_SET_VALUE)) return win::ERROR_ACCESS_DENIED;
  if (cbData && !lpData) return win::ERROR_INVALID_PARAMETER;
  if (base.node->refuseValueWrites) return *base.node->refuseValueWrites;
  RegValue value;
  value.type = dwType;
  // Windows forgives a string handed over without its terminator when the byte after the data
  // is one: it stores the terminator too (it reads that byte, as here).
  const bool isString = dwType == win::REG_SZ || dwType == win::REG_EXPAND_SZ ||
                        dwType == win::REG_MULTI_SZ;
  if (isString && cbData > 0 && lpData[cbData - 1] != 0 && lpData[cbData] == 0) ++cbData;
  if (cbData) value.data.assign(lpData, lpData + cbData);
  auto* existing = base.node->FindValue(name);
  std::optional<RegValue> before;
  if (existing) {
    before = existing->second;
    existing->second = value;  // the name keeps the spelling it was created with
  } else {
    base.node->values.emplace_back(name, value);
  }
  m.changes.push_back(RegChange{RegChange::Kind::ValueSet, m.PhysicalPath(base.node.get()), name,
                                before, value});
  return win::ERROR_SUCCESS;
}

win::LONG SimRegistry::RegQueryInfoKeyA(win::HKEY hKey, char* lpClass, win::DWORD* lpcchClass,
                                        win::DWORD* lpReserved, win::DWORD* lpcSubKeys,
                                        win::DWORD* lpcbMaxSubKeyLen, win::DWORD* lpcbMaxClassLen,
                                        win::DWORD* lpcValues, win::DWORD* lpcbMaxValueNameLen,
                                        win::DWORD* lpcbMaxValueLen,
                                        win::DWORD* lpcbSecurityDescriptor,
                                        win::FILETIME* lpftLastWriteTime) {
  Impl& m = *impl_;
  if (auto f = m.kernel.Enter("RegQueryInfoKeyA", m.Describe(hKey)))
    return *f ? static_cast<LONG>(*f) : win::ERROR_ACCESS_DENIED;
  if (lpReserved) return win::ERROR_INVALID_PARAMETER;
  if (lpClass && !lpcchClass) return win::ERROR_INVALID_PARAMETER;
  const Impl::Base base = m.Resolve(hKey);
  if (!base.valid) return win::ERROR_INVALID_HANDLE;
  if (base.node->deleted) return win::ERROR_KEY_DELETED;
  if (!(base.access & win::KEY_QUERY_VALUE)) return win::ERROR_ACCESS_DENIED;
  const Impl::Node& n = *base.node;
  DWORD maxSub = 0, maxName = 0, maxData = 0;
  for (const auto& s : n.subkeys) maxSub = std::max<DWORD>(maxSub, static_cast<DWORD>(s->name.size()));
  for (const auto& v : n.values) {
    maxName = std::max<DWORD>(maxName, static_cast<DWORD>(v.first.size()));
    maxData = std::max<DWORD>(maxData, static_cast<DWORD>(v.second.data.size()));
  }
  // Keys carry no class: the class is the empty text.
  if (lpClass && *lpcchClass > 0) lpClass[0] = '\0';
  if (lpcchClass) *lpcchClass = 0;
  if (lpcSubKeys) *lpcSubKeys = static_cast<DWORD>(n.subkeys.size());
  if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = maxSub;
  if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
  if (lpcValues) *lpcValues = static_cast<DWORD>(n.values.size());
  if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = maxName;
  if (lpcbMaxValueLen) *lpcbMaxValueLen = maxData;
  if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0x90;
  if (lpftLastWriteTime) *lpftLastWriteTime = win::FILETIME{0xD53E8000u, 0x01D80000u};
  return win::ERROR_SUCCESS;
}

win::LONG SimRegistry::RegEnumValueA(win::HKEY hKey, win::DWORD dwIndex, char* lpValueName,
                                     win::DWORD* lpcchValueName, win::DWORD* lpReserved,
                                     win::DWORD* lpType, win::BYTE* lpData,
                                     win::DWORD* lpcbData) {
  Impl& m = *impl_;
  if (auto f = m.kernel.Enter("RegEnumValueA", m.Describe(hKey) + " #" + std::to_string(dwIndex)))
    return *f ? static_cast<LONG>(*f) : win::ERROR_ACCESS_DENIED;
  if (lpReserved) return win::ERROR_INVALID_PARAMETER;
  if (!lpValueName || !lpcchValueName) return win::ERROR_INVALID_PARAMETER;
  if (lpData && !lpcbData) return win::ERROR_INVALID_PARAMETER;
  const Impl::Base base = m.Resolve(hKey);
  if (!base.valid) return win::ERROR_INVALID_HANDLE;
  if (base.node->deleted) return win::ERROR_KEY_DELETED;
  if (!(base.access & win::KEY_QUERY_VALUE)) return win::ERROR_ACCESS_DENIED;
  if (dwIndex >= base.node->values.size()) return win::ERROR_NO_MORE_ITEMS;
  const auto& [name, value] = base.node->values[dwIndex];
  // The name buffer must hold the name and its terminator.
  if (name.size() >= *lpcchValueName) return win::ERROR_MORE_DATA;
  const auto size = static_cast<DWORD>(value.data.size());
  if (lpData && *lpcbData < size) {
    *lpcbData = size;
    return win::ERROR_MORE_DATA;
  }
  std::memcpy(lpValueName, name.c_str(), name.size() + 1);
  *lpcchValueName = static_cast<DWORD>(name.size());
  if (lpType) *lpType = value.type;
  if (lpData && size) std::memcpy(lpData, value.data.data(), size);
  if (lpcbData) *lpcbData = size;
  return win::ERROR_SUCCESS;
}

win::LONG SimRegistry::RegEnumKeyA(win::HKEY hKey, win::DWORD dwIndex, char* lpName,
                                   win::DWORD cchName) {
  Impl& m = *impl_;
  if (auto f = m.kernel.Enter("RegEnumKeyA", m.Describe(hKey) + " #" + std::to_string(dwIndex)))
    return *f ? static_cast<LONG>(*f) : win::ERROR_ACCESS_DENIED;
  const Impl::Base base = m.Resolve(hKey);
  if (!base.valid) return win::ERROR_INVALID_HANDLE;
  if (base.node->deleted) return win::ERROR_KEY_DELETED;
  if (!(base.access & win::KEY_ENUMERATE_SUB_KEYS)) return win::ERROR_ACCESS_DENIED;
  const auto sorted = base.node->SortedSubkeys();
  if (dwIndex >= sorted.size()) return win::ERROR_NO_MORE_ITEMS;
  const std::string& name = sorted[dwIndex]->name;
  if (!lpName) return win::ERROR_INVALID_PARAMETER;
  if (name.size() >= cchName) return win::ERROR_MORE_DATA;
  std::memcpy(lpName, name.c_str(), name.size() + 1);
  return win::ERROR_SUCCESS;
}

win::DWORD SimRegistry::ExpandEnvironmentStringsA(const char* lpSrc, char* lpDst,
                                                  win::DWORD nSize) {
  Impl& m = *impl_;
  const std::string src = Impl::Sub(lpSrc);
  if (m.kernel.Enter("ExpandEnvironmentStringsA", src)) return 0;
  std::string out;
  std::size_t i = 0;
  while (i < src.size()) {
    if (src[i] == '%') {
      const std::size_t close = src.find('%', i + 1);
      if (close != std::string::npos && close > i + 1) {
        const std::string name = src.substr(i + 1, close - i - 1);
        const auto it = std::find_if(m.environment.begin(), m.environment.end(),
                                     [&](const auto& e) { return SameName(e.first, name); });
        if (it != m.environment.end()) {
          out += it->second;
          i = close + 1;
          continue;
        }
        // Undefined: the reference stays as written; its closing "%" may open the next one.
        out += src.substr(i, close - i);
        i = close;
        continue;
      }
    }
    out.push_back(src[i]);
    ++i;
  }
  const auto needed = static_cast<DWORD>(out.size() + 1);
  if (lpDst && nSize >= needed) std::memcpy(lpDst, out.c_str(), needed);
  return needed;
}

// --- the machine's contents ------------------------------------------------------------------

void SimRegistry::CreateKey(const std::string& path) {
  int root = 0;
  std::vector<std::string> parts;
  if (Impl::ParsePhysical(path, root, parts)) impl_->CreatePhysical(root, parts);
}

bool SimRegistry::KeyExists(const std::string& path) const {
  return impl_->FindPhysical(path) != nullptr;
}

void SimRegistry::SetValue(const std::string& path, const std::string& name, RegValue value) {
  CreateKey(path);
  Impl::Node* n = impl_->FindPhysical(path);
  if (!n) return;
  if (auto* v = n->FindValue(name))
    v->second = std::move(value);
  else
    n->values.emplace_back(name, std::move(value));
}

std::optional<RegValue> SimRegistry::GetValue(const std::string& path,
                                              const std::string& name) const {
  Impl::Node* n = impl_->FindPhysical(path);
  if (!n) return std::nullopt;
  if (auto* v = n->FindValue(name)) return v->second;
  return std::nullopt;
}

void SimRegistry::DenyAccess(const std::string& path, bool denyRead, bool denyWrite) {
  CreateKey(path);
  if (Impl::Node* n = impl_->FindPhysical(path)) {
    n->denyRead = denyRead;
    n->denyWrite = denyWrite;
  }
}

void SimRegistry::RefuseValueWrites(const std::string& path, win::LONG code) {
  CreateKey(path);
  if (Impl::Node* n = impl_->FindPhysical(path)) n->refuseValueWrites = code;
}

void SimRegistry::SetEnvironment(const std::string& name, const std::string& value) {
  auto& env = impl_->environment;
  auto it = std::find_if(env.begin(), env.end(),
                         [&](const auto& e) { return SameName(e.first, name); });
  if (it != env.end())
    it->second = value;
  else
    env.emplace_back(name, value);
}

std::vector<RegKeyDump> SimRegistry::Dump() const {
  std::vector<RegKeyDump> out;
  std::vector<const Impl::Node*> stack;
  for (int r = kRootCount - 1; r >= 0; --r) stack.push_back(impl_->roots[r].get());
  while (!stack.empty()) {
    const Impl::Node* n = stack.back();
    stack.pop_back();
    out.push_back(RegKeyDump{impl_->PhysicalPath(n), n->values});
    for (auto it = n->subkeys.rbegin(); it != n->subkeys.rend(); ++it) stack.push_back(it->get());
  }
  return out;
}

const std::vector<RegChange>& SimRegistry::Changes() const { return impl_->changes; }
void SimRegistry::ClearChanges() { impl_->changes.clear(); }

}  // namespace qv::sim

// The simulated machine's security functions: security descriptors from their string form (SDDL)
// and random bytes.
#include <algorithm>
#include <cstring>

#include "platform/sim/sim_areas.h"

namespace qv::sim {

// --- SDDL -------------------------------------------------------------------------------------------

namespace {

bool IsHex(const std::string& s) {
  return s.size() > 2 && s.compare(0, 2, "0x") == 0 &&
         s.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos;
}

// Two-letter tokens, each from `known`, making up `text` entirely.
bool Tokens(const std::string& text, std::initializer_list<const char*> known,
            std::vector<std::string>* out = nullptr) {
  if (text.size() % 2) return false;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const std::string t = text.substr(i, 2);
    if (std::none_of(known.begin(), known.end(), [&](const char* k) { return t == k; }))
      return false;
    if (out) out->push_back(t);
  }
  return true;
}

bool IsSid(const std::string& s) {
  static const char* const kAliases[] = {"AN", "AO", "AU", "BA", "BG", "BO", "BU", "CA", "CG",
                                         "CO", "DA", "DC", "DD", "DG", "DU", "EA", "ED", "IU",
                                         "LA", "LG", "LS", "NO", "NS", "NU", "PA", "PO", "PS",
                                         "PU", "RC", "RD", "RE", "RS", "RU", "SA", "SO", "SU",
                                         "SY", "WD", "WR"};
  if (std::any_of(std::begin(kAliases), std::end(kAliases), [&](const char* a) { return s == a; }))
    return true;
  if (s.compare(0, 4, "S-1-") != 0 || s.size() < 5) return false;
  return s.find_first_not_of("0123456789-", 4) == std::string::npos && s.back() != '-';
}

}  // namespace

// Reads the owner, group, DACL and SACL parts of SDDL, as Windows refuses them.
win::DWORD ParseDacl(const std::string& text, ParsedDacl& out) {
  constexpr win::DWORD kInvalidAcl = 1336;  // ERROR_INVALID_ACL
  std::size_t i = 0;
  if (text.empty()) return win::ERROR_INVALID_PARAMETER;
  while (i < text.size()) {
    if (i + 2 > text.size() || text[i + 1] != ':') return win::ERROR_INVALID_PARAMETER;
    const char part = text[i];
    i += 2;
    if (part == 'O' || part == 'G') {
      const std::size_t next = text.find(':', i);
      const std::size_t end = next == std::string::npos ? text.size() : next - 1;
      if (!IsSid(text.substr(i, end - i))) return kInvalidAcl;
      i = end;
      continue;
    }
    if (part != 'D' && part != 'S') return win::ERROR_INVALID_PARAMETER;
    const std::size_t open = std::min(text.find('(', i), text.size());
    // The flags: P (protected), AI (auto-inherited), AR (auto-inherit required).
    const std::string flags = text.substr(i, open - i);
    for (std::size_t k = 0; k < flags.size();) {
      if (flags[k] == 'P') {
        if (part == 'D') out.protectedDacl = true;
        ++k;
      } else if (flags.compare(k, 2, "AI") == 0 || flags.compare(k, 2, "AR") == 0) {
        k += 2;
      } else {
        return kInvalidAcl;
      }
    }
    i = open;
    while (i < text.size() && text[i] == '(') {
      const std::size_t close = text.find(')', i);
      if (close == std::string::npos) return kInvalidAcl;
      std::vector<std::string> f;
      std::size_t start = i + 1;
      for (;;) {
        const std::size_t semi = text.find(';', start);
        if (semi == std::string::npos || semi > close) {
          f.push_back(text.substr(start, close - start));
          break;
        }
        f.push_back(text.substr(start, semi - start));
        start = semi + 1;
      }
      if (f.size() != 6 || (f[0] != "A" && f[0] != "D" && f[0] != "AU")) return kInvalidAcl;
      if (!Tokens(f[1], {"CI", "OI", "NP", "IO", "ID", "SA", "FA"})) return kInvalidAcl;
      std::vector<std::string> rights;
      if (!IsHex(f[2]) && !Tokens(f[2], {"GA", "GR", "GW", "GX", "RC", "SD", "WD", "WO", "RP",
                                          "WP", "CC", "DC", "LC", "SW", "LO", "DT", "CR", "FA",
                                          "FR", "FW", "FX", "KA", "KR", "KW", "KX"},
                                   &rights))
        return kInvalidAcl;
      if (!f[3].empty() || !f[4].empty() || !IsSid(f[5])) return kInvalidAcl;
      const bool user = f[5] == "BU" || f[5] == "AU" || f[5] == "WD" || f[5] == "IU" ||
                        f[5] == "S-1-1-0" || f[5] == "S-1-5-11" || f[5] == "S-1-5-32-545";
      const bool write =
          std::any_of(rights.begin(), rights.end(),
                      [](const std::string& r) { return r == "GA" || r == "GW" || r == "FA" || r == "FW"; }) ||
          (IsHex(f[2]) && (std::stoul(f[2], nullptr, 16) & 0x50000002u));
      if (part == 'D' && f[0] == "A" && user && write) out.userMayWrite = true;
      i = close + 1;
    }
  }
  return 0;
}

win::BOOL SimAreas::ConvertStringSecurityDescriptorToSecurityDescriptorW(
    const win::WCHAR* StringSecurityDescriptor, win::DWORD StringSDRevision,
    win::PSECURITY_DESCRIPTOR* SecurityDescriptor, win::ULONG* SecurityDescriptorSize) {
  if (auto f = m.kernel_.Enter("ConvertStringSecurityDescriptorToSecurityDescriptorW",
                               ShowW(StringSecurityDescriptor)))
    return Fail(*f != 0 ? static_cast<win::DWORD>(*f) : win::ERROR_NOT_ENOUGH_MEMORY);
  if (!StringSecurityDescriptor || !SecurityDescriptor) return Fail(win::ERROR_INVALID_PARAMETER);
  if (StringSDRevision != win::SDDL_REVISION_1) return Fail(win::ERROR_UNKNOWN_REVISION);
  const std::string text = U8(StringSecurityDescriptor);
  ParsedDacl parsed;
  if (const win::DWORD error = ParseDacl(text, parsed)) return Fail(error);
  // The descriptor's memory: a kernel entry, so one that is never freed shows at the run's end.
  const std::uintptr_t h = m.kernel_.OpenHandle(HandleKind::LocalMemory, "security descriptor " + text);
  securityDescriptors[h] = text;
  *SecurityDescriptor = reinterpret_cast<void*>(h);
  // A self-relative descriptor with the header and four-byte ACE headers: roughly this size.
  if (SecurityDescriptorSize) *SecurityDescriptorSize = static_cast<win::ULONG>(20 + 8 + 4 * text.size());
  return win::TRUE;
}

void* SimAreas::LocalFree(void* hMem) {
  const std::uintptr_t h = reinterpret_cast<std::uintptr_t>(hMem);
  if (auto f = m.kernel_.Enter("LocalFree", std::to_string(h))) {
    Fail(*f != 0 ? static_cast<win::DWORD>(*f) : win::ERROR_INVALID_HANDLE);
    return hMem;
  }
  if (!hMem) return nullptr;
  if (!m.kernel_.Close(h, HandleKind::LocalMemory)) {
    Fail(win::ERROR_INVALID_HANDLE);
    return hMem;
  }
  securityDescriptors.erase(h);
  return nullptr;
}

// --- random bytes -----------------------------------------------------------------------------------

win::BOOL SimAreas::CryptAcquireContextW(win::HCRYPTPROV* phProv, const win::WCHAR* szContainer,
                                         const win::WCHAR* szProvider, win::DWORD dwProvType,
                                         win::DWORD dwFlags) {
  if (phProv) *phProv = win::HCRYPTPROV{};
  if (auto f = m.kernel_.Enter("CryptAcquireContextW", std::to_string(dwProvType)))
    return Fail(*f != 0 ? static_cast<win::DWORD>(*f) : 0x80090016u);  // NTE_BAD_KEYSET
  if (!phProv) return Fail(win::ERROR_INVALID_PARAMETER);
  // Without CRYPT_VERIFYCONTEXT a key container is opened, which the machine has none of.
  if (szContainer || !(dwFlags & win::CRYPT_VERIFYCONTEXT)) return Fail(0x80090016u);
  if (szProvider || dwProvType != win::PROV_RSA_FULL) return Fail(0x80090017u);  // NTE_PROV_TYPE_NOT_DEF
  *phProv = win::MakeHandle<win::HCRYPTPROV>(
      m.kernel_.OpenHandle(HandleKind::CryptProvider, "cryptographic provider"));
  return win::TRUE;
}

win::BOOL SimAreas::CryptGenRandom(win::HCRYPTPROV hProv, win::DWORD dwLen, win::BYTE* pbBuffer) {
  if (auto f = m.kernel_.Enter("CryptGenRandom", std::to_string(dwLen)))
    return Fail(*f != 0 ? static_cast<win::DWORD>(*f) : 0x80090020u);  // NTE_FAIL
  if (!m.kernel_.IsOpen(win::HandleValue(hProv), HandleKind::CryptProvider))
    return Fail(win::ERROR_INVALID_HANDLE);
  if (!pbBuffer && dwLen) return Fail(win::ERROR_INVALID_PARAMETER);
  for (win::DWORD i = 0; i < dwLen; ++i) {
    // splitmix64: one seed, one sequence.
    std::uint64_t z = (randomState += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    pbBuffer[i] = static_cast<win::BYTE>(z ^ (z >> 31));
  }
  return win::TRUE;
}

win::BOOL SimAreas::CryptReleaseContext(win::HCRYPTPROV hProv, win::DWORD dwFlags) {
  if (auto f = m.kernel_.Enter("CryptReleaseContext", std::to_string(win::HandleValue(hProv))))
    return Fail(*f != 0 ? static_cast<win::DWORD>(*f) : win::ERROR_INVALID_HANDLE);
  if (dwFlags != 0) return Fail(win::ERROR_INVALID_PARAMETER);  // NTE_BAD_FLAGS in fact
  if (!m.kernel_.Close(win::HandleValue(hProv), HandleKind::CryptProvider))
    return Fail(win::ERROR_INVALID_HANDLE);
  return win::TRUE;
}

}  // namespace qv::sim

// The simulated machine's security functions: security descriptors from their string form (SDDL),
// random bytes, Authenticode signatures checked by Windows' rules, and the key identifiers of
// certificates (a real SHA-1 over the real DER encoding of the SubjectPublicKeyInfo).
#include <algorithm>
#include <cstring>

#include "platform/sim/sim_areas.h"

namespace qv::sim {

// --- SHA-1 -----------------------------------------------------------------------------------------

std::array<std::uint8_t, 20> Sha1(const std::uint8_t* data, std::size_t size) {
  std::uint32_t h[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  std::vector<std::uint8_t> m(data, data + size);
  const std::uint64_t bits = static_cast<std::uint64_t>(size) * 8;
  m.push_back(0x80);
  while (m.size() % 64 != 56) m.push_back(0);
  for (int i = 7; i >= 0; --i) m.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  auto rotl = [](std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); };
  for (std::size_t block = 0; block < m.size(); block += 64) {
    std::uint32_t w[80];
    for (int i = 0; i < 16; ++i)
      w[i] = (std::uint32_t{m[block + 4 * i]} << 24) | (std::uint32_t{m[block + 4 * i + 1]} << 16) |
             (std::uint32_t{m[block + 4 * i + 2]} << 8) | std::uint32_t{m[block + 4 * i + 3]};
    for (int i = 16; i < 80; ++i) w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int i = 0; i < 80; ++i) {
      std::uint32_t f, k;
      if (i < 20) f = (b & c) | (~b & d), k = 0x5A827999u;
      else if (i < 40) f = b ^ c ^ d, k = 0x6ED9EBA1u;
      else if (i < 60) f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDCu;
      else f = b ^ c ^ d, k = 0xCA62C1D6u;
      const std::uint32_t t = rotl(a, 5) + f + e + k + w[i];
      e = d, d = c, c = rotl(b, 30), b = a, a = t;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
  }
  std::array<std::uint8_t, 20> out{};
  for (int i = 0; i < 20; ++i) out[i] = static_cast<std::uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
  return out;
}

// --- DER ----------------------------------------------------------------------------------------------

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Der(std::uint8_t tag, const Bytes& content) {
  Bytes out{tag};
  const std::size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<std::uint8_t>(n));
  } else {
    Bytes length;
    for (std::size_t v = n; v; v >>= 8) length.insert(length.begin(), static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(0x80 | length.size()));
    out.insert(out.end(), length.begin(), length.end());
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

// The content octets of an OBJECT IDENTIFIER from its dotted form; false when it is none.
bool OidContent(const std::string& dotted, Bytes& out) {
  std::vector<std::uint64_t> arcs;
  std::size_t i = 0;
  while (i <= dotted.size()) {
    const std::size_t dot = std::min(dotted.find('.', i), dotted.size());
    const std::string part = dotted.substr(i, dot - i);
    if (part.empty() || part.size() > 18 || part.find_first_not_of("0123456789") != std::string::npos)
      return false;
    arcs.push_back(std::stoull(part));
    i = dot + 1;
  }
  if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] > 39)) return false;
  arcs[1] += arcs[0] * 40;
  out.clear();
  for (std::size_t k = 1; k < arcs.size(); ++k) {
    Bytes base128;
    std::uint64_t v = arcs[k];
    do {
      base128.insert(base128.begin(), static_cast<std::uint8_t>((v & 0x7F) | (base128.empty() ? 0 : 0x80)));
      v >>= 7;
    } while (v);
    out.insert(out.end(), base128.begin(), base128.end());
  }
  return true;
}

constexpr char kRsaOid[] = "1.2.840.113549.1.1.1";

// The RSAPublicKey of a named key: a 1024-bit modulus made from the name, exponent 65537.
Bytes RsaPublicKeyOf(const std::string& key) {
  Bytes modulus;
  std::array<std::uint8_t, 20> block = Sha1(reinterpret_cast<const std::uint8_t*>(key.data()), key.size());
  while (modulus.size() < 128) {
    modulus.insert(modulus.end(), block.begin(), block.end());
    block = Sha1(block.data(), block.size());
  }
  modulus.resize(128);
  modulus[0] |= 0x80;  // a full 1024 bits
  modulus[127] |= 0x01;
  modulus.insert(modulus.begin(), 0x00);  // positive
  Bytes sequence = Der(0x02, modulus);
  const Bytes exponent = Der(0x02, {0x01, 0x00, 0x01});
  sequence.insert(sequence.end(), exponent.begin(), exponent.end());
  return Der(0x30, sequence);
}

// The DER SubjectPublicKeyInfo of a CERT_PUBLIC_KEY_INFO, as CryptHashPublicKeyInfo encodes it.
bool EncodePublicKeyInfo(const win::CERT_PUBLIC_KEY_INFO& info, Bytes& out) {
  Bytes oid;
  if (!info.Algorithm.pszObjId || !OidContent(info.Algorithm.pszObjId, oid)) return false;
  Bytes algorithm = Der(0x06, oid);
  if (info.Algorithm.Parameters.cbData)
    algorithm.insert(algorithm.end(), info.Algorithm.Parameters.pbData,
                     info.Algorithm.Parameters.pbData + info.Algorithm.Parameters.cbData);
  Bytes bits{static_cast<std::uint8_t>(info.PublicKey.cUnusedBits)};
  if (info.PublicKey.cbData)
    bits.insert(bits.end(), info.PublicKey.pbData, info.PublicKey.pbData + info.PublicKey.cbData);
  Bytes content = Der(0x30, algorithm);
  const Bytes key = Der(0x03, bits);
  content.insert(content.end(), key.begin(), key.end());
  out = Der(0x30, content);
  return true;
}

}  // namespace

std::vector<std::uint8_t> PublicKeyInfoOf(const std::string& key) {
  Bytes oid;
  OidContent(kRsaOid, oid);
  Bytes algorithm = Der(0x06, oid);
  algorithm.push_back(0x05);  // NULL parameters
  algorithm.push_back(0x00);
  Bytes bits{0x00};
  const Bytes rsa = RsaPublicKeyOf(key);
  bits.insert(bits.end(), rsa.begin(), rsa.end());
  Bytes content = Der(0x30, algorithm);
  const Bytes bitString = Der(0x03, bits);
  content.insert(content.end(), bitString.begin(), bitString.end());
  return Der(0x30, content);
}

std::array<std::uint8_t, 20> KeyIdOf(const std::string& key) {
  const Bytes spki = PublicKeyInfoOf(key);
  return Sha1(spki.data(), spki.size());
}

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

// --- Authenticode -----------------------------------------------------------------------------------

namespace {

// FILETIME of a day (UTC midnight), for the simulated certificates and the machine's clock.
win::FILETIME Day(int year, int month, int day) {
  // Days from 1601-01-01 (the civil-from-days algorithm, in reverse).
  const int y = year - (month <= 2);
  const int era = y / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long long daysFrom0000 = era * 146097LL + doe;  // from 0000-03-01
  const long long daysFrom1601 = daysFrom0000 - 584694LL;  // 1601-01-01 is day 584694
  const unsigned long long ticks = static_cast<unsigned long long>(daysFrom1601) * 864000000000ULL;
  return win::FILETIME{static_cast<win::DWORD>(ticks), static_cast<win::DWORD>(ticks >> 32)};
}

unsigned long long Ticks(const win::FILETIME& t) {
  return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// The machine's clock and the dates of its signatures: a valid certificate runs from 2010 to
// 2099, an expired one ended in 2019, a time stamp dates a signature 2017, the check runs 2024.
const win::FILETIME kNow = Day(2024, 6, 1);
const win::FILETIME kTimeStamp = Day(2017, 6, 1);
const win::FILETIME kValidFrom = Day(2010, 1, 1);
const win::FILETIME kValidTo = Day(2099, 12, 31);
const win::FILETIME kExpiredOn = Day(2019, 1, 1);

constexpr win::DWORD kConfidenceSig = 0x10000000u;
constexpr win::DWORD kConfidenceTime = 0x01000000u;
constexpr win::DWORD kConfidenceTimeNest = 0x00100000u;

}  // namespace

win::LONG SimAreas::WinVerifyTrust(win::HWND /*hwnd*/, const win::GUID* pgActionID,
                                   win::WINTRUST_DATA* data) {
  const bool closing = data && data->dwStateAction == win::WTD_STATEACTION_CLOSE;
  std::string detail = closing ? "close" : "verify";
  if (!closing && data && data->dwUnionChoice == win::WTD_CHOICE_FILE && data->pFile)
    detail += " " + ShowW(data->pFile->pcwszFilePath);
  if (auto f = m.kernel_.Enter("WinVerifyTrust", detail))
    return *f != 0 ? static_cast<win::LONG>(*f) : win::TRUST_E_PROVIDER_UNKNOWN;
  if (!pgActionID || !(*pgActionID == win::WINTRUST_ACTION_GENERIC_VERIFY_V2))
    return static_cast<win::LONG>(0x800B0002u);  // TRUST_E_ACTION_UNKNOWN
  if (!data || data->cbStruct < sizeof(win::WINTRUST_DATA)) return win::ERROR_INVALID_PARAMETER;
  if (closing) {
    const std::uintptr_t h = win::HandleValue(data->hWVTStateData);
    if (h && m.kernel_.Close(h, HandleKind::TrustState)) trustStates.erase(h);
    data->hWVTStateData = win::HANDLE{};
    return win::ERROR_SUCCESS;
  }
  if (data->dwUnionChoice != win::WTD_CHOICE_FILE || !data->pFile ||
      data->pFile->cbStruct < sizeof(win::WINTRUST_FILE_INFO) || !data->pFile->pcwszFilePath)
    return win::ERROR_INVALID_PARAMETER;

  // The state exists from the first step on, whatever the result; the caller closes it.
  auto state = std::make_unique<TrustState>();
  auto keep = [&](win::LONG result) {
    if (data->dwStateAction == win::WTD_STATEACTION_VERIFY) {
      const std::uintptr_t h = m.kernel_.OpenHandle(HandleKind::TrustState, "trust state " + detail);
      data->hWVTStateData = win::MakeHandle<win::HANDLE>(h);
      trustStates[h] = std::move(state);
    }
    RunUserWrites(UserMoment::AfterCheck);
    return result;
  };

  // The steps of the Software Publisher Trust Provider, in its order: open the file, find its
  // form and its signature, check the content's digest, build the signer's chain, then the
  // Authenticode policy (a trusted root before the validity times).
  const Node* n = Lookup(ProgramPath(U8(data->pFile->pcwszFilePath)));
  if (!n || n->folder) return keep(n ? win::ERROR_ACCESS_DENIED : win::ERROR_FILE_NOT_FOUND);
  const SimFile& file = n->file;
  if (!file.knownForm) return keep(win::TRUST_E_SUBJECT_FORM_UNKNOWN);
  if (!file.signature || file.signature->chain.empty()) return keep(win::TRUST_E_NOSIGNATURE);
  const SimSignature& signature = *file.signature;
  if (!signature.intact) return keep(win::TRUST_E_BAD_DIGEST);

  state->hasSigner = true;
  state->signer.cbStruct = sizeof(win::CRYPT_PROVIDER_SGNR);
  state->signer.sftVerifyAsOf = signature.timestamped ? kTimeStamp : kNow;
  bool expired = false;
  for (const SimCertificate& c : signature.chain) {
    auto cert = std::make_unique<TrustState::Certificate>();
    cert->oid = kRsaOid;
    cert->parameters = {0x05, 0x00};
    cert->publicKey = RsaPublicKeyOf(c.key);
    win::CERT_INFO& info = cert->info;
    info.dwVersion = 2;
    info.NotBefore = kValidFrom;
    info.NotAfter = c.expired ? kExpiredOn : kValidTo;
    info.SubjectPublicKeyInfo.Algorithm.pszObjId = cert->oid.data();
    info.SubjectPublicKeyInfo.Algorithm.Parameters = {static_cast<win::DWORD>(cert->parameters.size()),
                                                      cert->parameters.data()};
    info.SubjectPublicKeyInfo.PublicKey = {static_cast<win::DWORD>(cert->publicKey.size()),
                                           cert->publicKey.data(), 0};
    cert->context.dwCertEncodingType = win::X509_ASN_ENCODING;
    cert->context.pCertInfo = &cert->info;
    cert->provider.cbStruct = sizeof(win::CRYPT_PROVIDER_CERT);
    cert->provider.pCert = &cert->context;
    const bool timeValid = !c.expired || signature.timestamped;
    expired = expired || !timeValid;
    cert->provider.dwConfidence =
        kConfidenceSig | kConfidenceTimeNest | (timeValid ? kConfidenceTime : 0);
    state->chain.push_back(std::move(cert));
  }
  state->signer.csCertChain = static_cast<win::DWORD>(state->chain.size());
  if (!signature.rootTrusted) return keep(win::CERT_E_UNTRUSTEDROOT);
  if (expired) return keep(win::CERT_E_EXPIRED);
  return keep(win::ERROR_SUCCESS);
}

win::CRYPT_PROVIDER_DATA* SimAreas::WTHelperProvDataFromStateData(win::HANDLE hStateData) {
  const std::uintptr_t h = win::HandleValue(hStateData);
  if (m.kernel_.Enter("WTHelperProvDataFromStateData", std::to_string(h))) return nullptr;
  auto it = trustStates.find(h);
  if (it == trustStates.end() || !m.kernel_.IsOpen(h, HandleKind::TrustState)) return nullptr;
  return reinterpret_cast<win::CRYPT_PROVIDER_DATA*>(it->second.get());
}

win::CRYPT_PROVIDER_SGNR* SimAreas::WTHelperGetProvSignerFromChain(
    win::CRYPT_PROVIDER_DATA* pProvData, win::DWORD idxSigner, win::BOOL fCounterSigner,
    win::DWORD /*idxCounterSigner*/) {
  if (m.kernel_.Enter("WTHelperGetProvSignerFromChain", std::to_string(idxSigner))) return nullptr;
  for (auto& [h, state] : trustStates) {
    if (reinterpret_cast<win::CRYPT_PROVIDER_DATA*>(state.get()) != pProvData) continue;
    if (fCounterSigner || idxSigner != 0 || !state->hasSigner) return nullptr;
    return &state->signer;
  }
  return nullptr;
}

win::CRYPT_PROVIDER_CERT* SimAreas::WTHelperGetProvCertFromChain(win::CRYPT_PROVIDER_SGNR* pSgnr,
                                                                 win::DWORD idxCert) {
  if (m.kernel_.Enter("WTHelperGetProvCertFromChain", std::to_string(idxCert))) return nullptr;
  for (auto& [h, state] : trustStates) {
    if (&state->signer != pSgnr) continue;
    if (idxCert >= state->chain.size()) return nullptr;
    return &state->chain[idxCert]->provider;
  }
  return nullptr;
}

win::BOOL SimAreas::CryptHashPublicKeyInfo(win::HCRYPTPROV /*hCryptProv*/, win::ALG_ID Algid,
                                           win::DWORD /*dwFlags*/, win::DWORD dwCertEncodingType,
                                           const win::CERT_PUBLIC_KEY_INFO* pInfo,
                                           win::BYTE* pbComputedHash,
                                           win::DWORD* pcbComputedHash) {
  if (auto f = m.kernel_.Enter("CryptHashPublicKeyInfo"))
    return Fail(*f != 0 ? static_cast<win::DWORD>(*f) : win::ERROR_NOT_ENOUGH_MEMORY);
  if (!pInfo || !pcbComputedHash) return Fail(win::ERROR_INVALID_PARAMETER);
  if (Algid != win::CALG_SHA1) return Fail(0x80090008u);  // NTE_BAD_ALGID: only SHA-1 here
  if (!(dwCertEncodingType & win::X509_ASN_ENCODING)) return Fail(win::ERROR_INVALID_PARAMETER);
  Bytes encoded;
  if (!EncodePublicKeyInfo(*pInfo, encoded)) return Fail(0x80092002u);  // CRYPT_E_BAD_ENCODE
  if (!pbComputedHash) {
    *pcbComputedHash = 20;
    return win::TRUE;
  }
  if (*pcbComputedHash < 20) {
    *pcbComputedHash = 20;
    return Fail(win::ERROR_MORE_DATA);
  }
  const auto hash = Sha1(encoded.data(), encoded.size());
  std::copy(hash.begin(), hash.end(), pbComputedHash);
  *pcbComputedHash = 20;
  return win::TRUE;
}

win::LONG SimAreas::CertVerifyTimeValidity(const win::FILETIME* pTimeToVerify,
                                           const win::CERT_INFO* pCertInfo) {
  if (auto f = m.kernel_.Enter("CertVerifyTimeValidity")) return *f != 0 ? static_cast<win::LONG>(*f) : 1;
  if (!pCertInfo) return 1;
  const win::FILETIME now = pTimeToVerify ? *pTimeToVerify : kNow;
  if (Ticks(now) < Ticks(pCertInfo->NotBefore)) return -1;
  if (Ticks(now) > Ticks(pCertInfo->NotAfter)) return 1;
  return 0;
}

}  // namespace qv::sim

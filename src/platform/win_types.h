// The Windows types, records and constants that the updater's calls use, with their Windows
// names and values, for code that must not include <windows.h>.
//
// Records that cross to Windows as they are (STARTUPINFOA, PROCESS_INFORMATION, OSVERSIONINFOA,
// VS_FIXEDFILEINFO, TASKDIALOGCONFIG, ...) have the same layout as the Windows ones in both
// Windows builds; win32/ checks that with static_asserts.
//
// Rule for translation units in win32/: include this header (directly or through seam.h) before
// <windows.h>, because <windows.h> defines many of these names as macros.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::win {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using ULONG = std::uint32_t;
using BOOL = std::int32_t;
using HRESULT = std::int32_t;
using REGSAM = DWORD;
using LANGID = WORD;
using WCHAR = char16_t;

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

// Handles: one distinct type per kind, pointer-sized like Windows', 0 meaning none.
enum class HKEY : std::uintptr_t {};
enum class HANDLE : std::uintptr_t {};
enum class HWND : std::uintptr_t {};
enum class HICON : std::uintptr_t {};
enum class HINSTANCE : std::uintptr_t {};

template <typename H>
constexpr std::uintptr_t HandleValue(H h) {
  return static_cast<std::uintptr_t>(h);
}
template <typename H>
constexpr H MakeHandle(std::uintptr_t v) {
  return static_cast<H>(v);
}
template <typename H>
constexpr bool IsNull(H h) {
  return static_cast<std::uintptr_t>(h) == 0;
}

// A predefined root key from its 32-bit number: Windows sign-extends these to pointer size
// ((HKEY)(ULONG_PTR)(LONG)0x80000002), so a 64-bit build sees 0xFFFFFFFF80000002.
constexpr HKEY HkeyFromLong(LONG value) {
  return static_cast<HKEY>(static_cast<std::uintptr_t>(static_cast<std::intptr_t>(value)));
}
constexpr HKEY HKEY_CLASSES_ROOT = HkeyFromLong(static_cast<LONG>(0x80000000u));
constexpr HKEY HKEY_CURRENT_USER = HkeyFromLong(static_cast<LONG>(0x80000001u));
constexpr HKEY HKEY_LOCAL_MACHINE = HkeyFromLong(static_cast<LONG>(0x80000002u));
constexpr HKEY HKEY_USERS = HkeyFromLong(static_cast<LONG>(0x80000003u));

// Result codes (winerror.h).
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_PATH_NOT_FOUND = 3;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr LONG ERROR_INVALID_DATA = 13;
constexpr LONG ERROR_OUTOFMEMORY = 14;
constexpr LONG ERROR_SHARING_VIOLATION = 32;
constexpr LONG ERROR_FILE_EXISTS = 80;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
constexpr LONG ERROR_ALREADY_EXISTS = 183;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_KEY_DELETED = 1018;
constexpr LONG ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);
constexpr HRESULT HRESULT_FROM_WIN32(LONG e) {
  return e <= 0 ? e : static_cast<HRESULT>((static_cast<DWORD>(e) & 0xFFFFu) | 0x80070000u);
}
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// Registry (winnt.h / winreg.h).
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM KEY_WOW64_RES = 0x0300;
constexpr REGSAM DELETE = 0x00010000;
constexpr REGSAM KEY_READ = 0x00020019;
constexpr REGSAM KEY_WRITE = 0x00020006;
constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  void* lpSecurityDescriptor;
  BOOL bInheritHandle;
};

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

// System.
constexpr DWORD MAX_PATH = 260;
constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD STILL_ACTIVE = 259;

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

// The event log (winnt.h): an event's type.
constexpr WORD EVENTLOG_ERROR_TYPE = 0x0001;
constexpr WORD EVENTLOG_WARNING_TYPE = 0x0002;
constexpr WORD EVENTLOG_INFORMATION_TYPE = 0x0004;

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  char szCSDVersion[128];
};
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");

// Code pages (WideCharToMultiByte, MultiByteToWideChar).
constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF7 = 65000;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x400;
constexpr DWORD MB_PRECOMPOSED = 0x1;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;
constexpr LONG ERROR_INVALID_FLAGS = 1004;
constexpr LONG ERROR_NO_UNICODE_TRANSLATION = 1113;

// Processes.
constexpr DWORD NORMAL_PRIORITY_CLASS = 0x00000020;

struct STARTUPINFOW {
  DWORD cb;
  WCHAR* lpReserved;
  WCHAR* lpDesktop;
  WCHAR* lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  BYTE* lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
};

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};

// Files.
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;

struct VS_FIXEDFILEINFO {
  DWORD dwSignature;
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;
  DWORD dwFileVersionLS;
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52, "VS_FIXEDFILEINFO is 52 bytes");
constexpr DWORD VS_FFI_SIGNATURE = 0xFEEF04BDu;
constexpr DWORD VS_FFI_STRUCVERSION = 0x00010000u;

constexpr LONG ERROR_DIR_NOT_EMPTY = 145;
constexpr LONG ERROR_DISK_FULL = 112;
constexpr LONG ERROR_HANDLE_DISK_FULL = 39;
constexpr LONG ERROR_DIRECTORY = 267;

// Security descriptors and random bytes (sddl.h, wincrypt.h).
using PSECURITY_DESCRIPTOR = void*;
constexpr DWORD SDDL_REVISION_1 = 1;
constexpr LONG ERROR_UNKNOWN_REVISION = 1305;
constexpr LONG ERROR_INVALID_SECURITY_DESCR = 1338;

enum class HCRYPTPROV : std::uintptr_t {};
constexpr DWORD PROV_RSA_FULL = 1;
constexpr DWORD CRYPT_VERIFYCONTEXT = 0xF0000000u;

// Opening and reading a file (winnt.h, fileapi.h).
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000u;
constexpr HANDLE INVALID_HANDLE_VALUE = MakeHandle<HANDLE>(~std::uintptr_t{0});
constexpr DWORD MOVEFILE_DELAY_UNTIL_REBOOT = 0x4;

// Shell.
constexpr int CSIDL_COMMON_PROGRAMS = 23;
constexpr int CSIDL_FLAG_CREATE = 0x8000;
constexpr DWORD SHGFP_TYPE_CURRENT = 0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD SLR_NO_UI = 0x1;
constexpr DWORD SLR_UPDATE = 0x4;
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;

// Windows and dialogs.
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_SETFOREGROUND = 0x10000;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr int IDCLOSE = 8;
constexpr int IDHELP = 9;
constexpr int IDTRYAGAIN = 10;
constexpr int IDCONTINUE = 11;

constexpr DWORD TDF_USE_HICON_MAIN = 0x0002;
constexpr DWORD TDF_USE_HICON_FOOTER = 0x0004;
constexpr DWORD TDF_ALLOW_DIALOG_CANCELLATION = 0x0008;
constexpr DWORD TDCBF_OK_BUTTON = 0x0001;
constexpr DWORD TDCBF_YES_BUTTON = 0x0002;
constexpr DWORD TDCBF_NO_BUTTON = 0x0004;
constexpr DWORD TDCBF_CANCEL_BUTTON = 0x0008;
constexpr DWORD TDCBF_RETRY_BUTTON = 0x0010;
constexpr DWORD TDCBF_CLOSE_BUTTON = 0x0020;

// Windows packs the task dialog records to 1 byte; 96 bytes in the 32-bit layout.
#pragma pack(push, 1)
struct TASKDIALOG_BUTTON {
  int nButtonID;
  const WCHAR* pszButtonText;
};

struct TASKDIALOGCONFIG {
  UINT cbSize;
  HWND hwndParent;
  HINSTANCE hInstance;
  DWORD dwFlags;
  DWORD dwCommonButtons;
  const WCHAR* pszWindowTitle;
  union {
    HICON hMainIcon;
    const WCHAR* pszMainIcon;
  };
  const WCHAR* pszMainInstruction;
  const WCHAR* pszContent;
  UINT cButtons;
  const TASKDIALOG_BUTTON* pButtons;
  int nDefaultButton;
  UINT cRadioButtons;
  const TASKDIALOG_BUTTON* pRadioButtons;
  int nDefaultRadioButton;
  const WCHAR* pszVerificationText;
  const WCHAR* pszExpandedInformation;
  const WCHAR* pszExpandedControlText;
  const WCHAR* pszCollapsedControlText;
  union {
    HICON hFooterIcon;
    const WCHAR* pszFooterIcon;
  };
  const WCHAR* pszFooter;
  void* pfCallback;
  std::intptr_t lpCallbackData;
  UINT cxWidth;
};
#pragma pack(pop)
static_assert(sizeof(void*) != 4 || sizeof(TASKDIALOGCONFIG) == 96,
              "TASKDIALOGCONFIG is 96 bytes in the 32-bit layout");

// MAKEINTRESOURCEW: a 16-bit resource number carried in a text pointer.
inline const WCHAR* MAKEINTRESOURCEW(std::uint32_t id) {
  return reinterpret_cast<const WCHAR*>(static_cast<std::uintptr_t>(id & 0xFFFFu));
}
inline bool IS_INTRESOURCE(const void* p) {
  return (reinterpret_cast<std::uintptr_t>(p) >> 16) == 0;
}

}  // namespace qv::win

// Owning wrappers, one per handle kind, so that a handle acquired through the seam is released
// on every path out of the routine that acquired it, exceptions included.
#pragma once

#include <utility>

#include "platform/seam.h"

namespace qv::win {

// Owns one open registry key (not a predefined root).
class UniqueHkey {
 public:
  explicit UniqueHkey(IRegistry& registry) : registry_(&registry) {}
  UniqueHkey(const UniqueHkey&) = delete;
  UniqueHkey& operator=(const UniqueHkey&) = delete;
  ~UniqueHkey() { reset(); }

  HKEY get() const { return key_; }
  // For the out-parameter of RegOpenKeyExA / RegCreateKeyExA.
  HKEY* put() {
    reset();
    return &key_;
  }
  explicit operator bool() const { return !IsNull(key_); }
  void reset() {
    if (!IsNull(key_)) registry_->RegCloseKey(key_);
    key_ = HKEY{};
  }

 private:
  IRegistry* registry_;
  HKEY key_{};
};

// Owns a kernel handle (process, thread, file).
class UniqueHandle {
 public:
  explicit UniqueHandle(IProcesses& processes, HANDLE h = HANDLE{})
      : processes_(&processes), handle_(h) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return !IsNull(handle_) && handle_ != INVALID_HANDLE_VALUE; }
  // Takes `h` (INVALID_HANDLE_VALUE, CreateFileW's failure, holds nothing), closing the one held.
  void reset(HANDLE h = HANDLE{}) {
    if (*this) processes_->CloseHandle(handle_);
    handle_ = h;
  }

 private:
  IProcesses* processes_;
  HANDLE handle_;
};

// Owns an icon from LoadIconW that the program destroys itself.
class UniqueIcon {
 public:
  UniqueIcon(IWindows& windows, HICON icon) : windows_(&windows), icon_(icon) {}
  UniqueIcon(const UniqueIcon&) = delete;
  UniqueIcon& operator=(const UniqueIcon&) = delete;
  ~UniqueIcon() {
    if (!IsNull(icon_)) windows_->DestroyIcon(icon_);
  }
  HICON get() const { return icon_; }

 private:
  IWindows* windows_;
  HICON icon_;
};

// Owns a window the program created.
class UniqueWindow {
 public:
  UniqueWindow(IWindows& windows, HWND hwnd) : windows_(&windows), hwnd_(hwnd) {}
  UniqueWindow(const UniqueWindow&) = delete;
  UniqueWindow& operator=(const UniqueWindow&) = delete;
  ~UniqueWindow() { reset(); }
  HWND get() const { return hwnd_; }
  void reset() {
    if (!IsNull(hwnd_)) windows_->DestroyWindow(hwnd_);
    hwnd_ = HWND{};
  }

 private:
  IWindows* windows_;
  HWND hwnd_;
};

// Owns memory that Windows allocated for the program and LocalFree releases (a security
// descriptor from ConvertStringSecurityDescriptorToSecurityDescriptorW).
class UniqueLocalMemory {
 public:
  explicit UniqueLocalMemory(ISecurity& security) : security_(&security) {}
  UniqueLocalMemory(const UniqueLocalMemory&) = delete;
  UniqueLocalMemory& operator=(const UniqueLocalMemory&) = delete;
  ~UniqueLocalMemory() {
    if (memory_) security_->LocalFree(memory_);
  }
  void* get() const { return memory_; }
  void** put() { return &memory_; }

 private:
  ISecurity* security_;
  void* memory_ = nullptr;
};

// Owns a context of a cryptographic provider (CryptAcquireContextW).
class UniqueCryptProvider {
 public:
  explicit UniqueCryptProvider(ISecurity& security) : security_(&security) {}
  UniqueCryptProvider(const UniqueCryptProvider&) = delete;
  UniqueCryptProvider& operator=(const UniqueCryptProvider&) = delete;
  ~UniqueCryptProvider() {
    if (!IsNull(provider_)) security_->CryptReleaseContext(provider_, 0);
  }
  HCRYPTPROV get() const { return provider_; }
  HCRYPTPROV* put() { return &provider_; }

 private:
  ISecurity* security_;
  HCRYPTPROV provider_{};
};

// Owns one reference to a COM-style interface.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() { reset(); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** put() {
    reset();
    return &p_;
  }
  explicit operator bool() const { return p_ != nullptr; }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace qv::win

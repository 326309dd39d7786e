// RAII owners for the Win32 objects the launcher takes: each releases what it holds on every path,
// so no function needs a cleanup ladder.
#pragma once

#include <windows.h>

#include <cstdlib>

template <typename Traits>
class UniqueOwner {
 public:
  using Value = typename Traits::Value;

  UniqueOwner() = default;
  explicit UniqueOwner(Value value) : value_(value) {}
  ~UniqueOwner() { reset(); }
  UniqueOwner(const UniqueOwner&) = delete;
  UniqueOwner& operator=(const UniqueOwner&) = delete;
  UniqueOwner(UniqueOwner&& other) noexcept : value_(other.release()) {}
  UniqueOwner& operator=(UniqueOwner&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Value get() const { return value_; }
  explicit operator bool() const { return !Traits::IsEmpty(value_); }
  Value release() {
    Value value = value_;
    value_ = Traits::Empty();
    return value;
  }
  void reset(Value value = Traits::Empty()) {
    if (!Traits::IsEmpty(value_)) Traits::Close(value_);
    value_ = value;
  }

 private:
  Value value_ = Traits::Empty();
};

// A file opened by CreateFileA: empty is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using Value = HANDLE;
  static Value Empty() { return INVALID_HANDLE_VALUE; }
  static bool IsEmpty(Value v) { return v == INVALID_HANDLE_VALUE || v == nullptr; }
  static void Close(Value v) { CloseHandle(v); }
};
using UniqueFile = UniqueOwner<FileHandleTraits>;

// Process, thread and other kernel handles whose failure value is null.
struct KernelHandleTraits {
  using Value = HANDLE;
  static Value Empty() { return nullptr; }
  static bool IsEmpty(Value v) { return v == nullptr || v == INVALID_HANDLE_VALUE; }
  static void Close(Value v) { CloseHandle(v); }
};
using UniqueHandle = UniqueOwner<KernelHandleTraits>;

// A directory listing from FindFirstFileA.
struct FindHandleTraits {
  using Value = HANDLE;
  static Value Empty() { return INVALID_HANDLE_VALUE; }
  static bool IsEmpty(Value v) { return v == INVALID_HANDLE_VALUE; }
  static void Close(Value v) { FindClose(v); }
};
using UniqueFind = UniqueOwner<FindHandleTraits>;

// A loaded resource (FreeResource is a no-op on Win32, but pairing it keeps the contract explicit).
struct ResourceTraits {
  using Value = HGLOBAL;
  static Value Empty() { return nullptr; }
  static bool IsEmpty(Value v) { return v == nullptr; }
  static void Close(Value v) { FreeResource(v); }
};
using UniqueResource = UniqueOwner<ResourceTraits>;

// Pens and brushes.
struct GdiObjectTraits {
  using Value = HGDIOBJ;
  static Value Empty() { return nullptr; }
  static bool IsEmpty(Value v) { return v == nullptr; }
  static void Close(Value v) { DeleteObject(v); }
};
using UniqueGdiObject = UniqueOwner<GdiObjectTraits>;

// An event source from RegisterEventSourceA.
struct EventSourceTraits {
  using Value = HANDLE;
  static Value Empty() { return nullptr; }
  static bool IsEmpty(Value v) { return v == nullptr; }
  static void Close(Value v) { DeregisterEventSource(v); }
};
using UniqueEventSource = UniqueOwner<EventSourceTraits>;

// Memory from malloc/calloc.
struct HeapTraits {
  using Value = void*;
  static Value Empty() { return nullptr; }
  static bool IsEmpty(Value v) { return v == nullptr; }
  static void Close(Value v) { std::free(v); }
};
using UniqueHeap = UniqueOwner<HeapTraits>;

#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace kestrine::win32 {

// Owning handles of GDI objects (fonts, bitmaps), deleted once.
struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;
using Bitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;

struct IconDeleter {
  void operator()(HICON icon) const { DestroyIcon(icon); }
};
using Icon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

// A memory device context with an object selected into it for as long as it
// lives.
class MemoryDc {
 public:
  MemoryDc(HDC like, HGDIOBJ object) : dc_(CreateCompatibleDC(like)) {
    previous_ = SelectObject(dc_, object);
  }
  ~MemoryDc() {
    SelectObject(dc_, previous_);
    DeleteDC(dc_);
  }
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace kestrine::win32

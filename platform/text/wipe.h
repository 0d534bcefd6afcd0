#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A password passes through the run as plain text: a line of the file, its
// columns, the run state, the value the directory is sent. Each buffer that
// held one is overwritten before it is freed or handed back, so that freed
// memory, a core dump or the swap does not keep it.

namespace kestrine {

// Overwrites the bytes with zeros in a way the compiler does not leave out
// (explicit_bzero, SecureZeroMemory).
void wipe(void* data, std::size_t size);

// Overwrites the text's whole buffer, not only its present length, and
// empties it; the buffer stays allocated for reuse.
template <class Char, class Traits, class Allocator>
void wipe(std::basic_string<Char, Traits, Allocator>& text) {
  text.resize(text.capacity());
  wipe(text.data(), text.size() * sizeof(Char));
  text.clear();
}

// Each text of the list, then the list is emptied.
inline void wipe(std::vector<std::string>& texts) {
  for (auto& text : texts) wipe(text);
  texts.clear();
}

// Wipes a text or a list when the scope ends, however it ends.
template <class Secret>
class WipeOnExit {
 public:
  explicit WipeOnExit(Secret& secret) : secret_(secret) {}
  ~WipeOnExit() { wipe(secret_); }
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;

 private:
  Secret& secret_;
};

// Appends to a text that may hold a secret. A buffer that must grow is
// replaced by one at least twice its size, and the old one is wiped, not
// just freed.
template <class Char, class Traits, class Allocator>
void appendWiping(std::basic_string<Char, Traits, Allocator>& text,
                  std::basic_string_view<Char, Traits> more) {
  const std::size_t needed = text.size() + more.size();
  if (needed > text.capacity()) {
    std::basic_string<Char, Traits, Allocator> larger(text.get_allocator());
    larger.reserve(std::max(needed, 2 * text.capacity()));
    larger.append(text);
    wipe(text);
    text.swap(larger);
  }
  text.append(more);
}

}  // namespace kestrine

#pragma once

#include <cstddef>
#include <cstring>
#include <memory>

namespace orbv {

// A NUL-terminated text owned by its holder; null means absent. get() hands it to C formatting.
using OwnedText = std::unique_ptr<char[]>;

// The n bytes at p followed by a NUL (the bytes may hold NULs of their own).
inline OwnedText copy_text(const char* p, size_t n) {
    OwnedText text(new char[n + 1]);
    if (n > 0) std::memcpy(text.get(), p, n);
    text[n] = '\0';
    return text;
}

}  // namespace orbv

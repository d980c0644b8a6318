#pragma once
// Append-only storage for the bytes of a document's changed and added lines,
// in blocks that never move, so that the lines can point into it.

#include <cstddef>
#include <memory>
#include <vector>

namespace ini {

class Arena {
public:
    char* allocate(std::size_t n) {
        if (n > kBlock / 4) {
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(n));
            return blocks_.back().get();
        }
        if (n > left_) {
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
            next_ = blocks_.back().get();
            left_ = kBlock;
        }
        char* result = next_;
        next_ += n;
        left_ -= n;
        return result;
    }

private:
    static constexpr std::size_t kBlock = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* next_ = nullptr;
    std::size_t left_ = 0;
};

}  // namespace ini

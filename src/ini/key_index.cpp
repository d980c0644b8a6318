#include "ini/key_index.h"

namespace ini {

void KeyIndex::reserve(std::size_t count) {
    std::size_t capacity = 8;
    while (capacity < 2 * count) capacity *= 2;
    if (capacity > slots_.size()) rebuild(capacity);
}

void KeyIndex::erase(Slot* slot) {
    // Backward shift: the slots after the hole that may move into it do, so
    // that no search stops early at the hole.
    const std::size_t mask = slots_.size() - 1;
    std::size_t hole = static_cast<std::size_t>(slot - slots_.data());
    for (std::size_t j = (hole + 1) & mask; slots_[j].line != kEmpty; j = (j + 1) & mask) {
        const std::size_t home = slots_[j].hash & mask;
        const bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
        if (stays) continue;
        slots_[hole] = slots_[j];
        hole = j;
    }
    slots_[hole] = Slot{};
    --count_;
}

void KeyIndex::release() {
    std::vector<Slot>().swap(slots_);
    count_ = 0;
}

void KeyIndex::rebuild(std::size_t capacity) {
    std::vector<Slot> old(capacity);
    old.swap(slots_);
    for (const Slot& slot : old) {
        if (slot.line != kEmpty) place(slot);
    }
}

}  // namespace ini

#pragma once
// Open-addressing hash table (linear probing) from texts to values, and the keyed text hash it
// is used with.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kuv::core {

// A keyed 32-bit hash of `text` (the key is drawn once per process, so colliding texts cannot be
// prepared in advance). Never 0, the empty-slot mark of TextTable. 32 bits keep table slots and
// the builder's records small; equal hashes are always confirmed by comparing the texts.
using TextHash = std::uint32_t;
TextHash hash_text(std::string_view text);

// The texts live elsewhere (a string pool, node records): a slot holds only the text's hash and
// its value, and a lookup compares through the caller's value -> text function, so no text is
// stored twice.
template <class Value>
class TextTable {
public:
    // The value whose text equals `text`, or nullptr. `hash` must be non-zero.
    template <class TextOf>
    const Value* find(std::string_view text, TextHash hash, const TextOf& text_of) const {
        if (slots_.empty()) return nullptr;
        for (std::size_t i = hash & mask(); slots_[i].hash != kEmpty; i = (i + 1) & mask()) {
            if (slots_[i].hash == hash && text_of(slots_[i].value) == text) return &slots_[i].value;
        }
        return nullptr;
    }

    // Adds `value` under `hash`; the caller has made sure its text is not in the table yet.
    void insert(TextHash hash, Value value) {
        if (!fits(size_ + 1)) rehash(slots_.empty() ? 16 : slots_.size() * 2);
        place(hash, value);
        ++size_;
    }

    // Makes room for `count` entries in all, so filling the table does not rehash.
    void reserve(std::size_t count) {
        std::size_t slot_count = std::max<std::size_t>(slots_.size(), 16);
        while (!fits(count, slot_count)) slot_count *= 2;
        if (slot_count != slots_.size()) rehash(slot_count);
    }

    std::size_t size() const { return size_; }

private:
    static constexpr TextHash kEmpty = 0;
    struct Slot {
        TextHash hash = kEmpty;
        Value value{};
    };

    std::size_t mask() const { return slots_.size() - 1; }
    // At most three quarters full keeps the linear probes short.
    static bool fits(std::size_t count, std::size_t slot_count) { return count * 4 <= slot_count * 3; }
    bool fits(std::size_t count) const { return fits(count, slots_.size()); }

    void place(TextHash hash, Value value) {
        std::size_t i = hash & mask();
        while (slots_[i].hash != kEmpty) i = (i + 1) & mask();
        slots_[i] = Slot{hash, value};
    }

    void rehash(std::size_t slot_count) {
        std::vector<Slot> old(slot_count);
        old.swap(slots_);
        for (const Slot& slot : old) {
            if (slot.hash != kEmpty) place(slot.hash, slot.value);
        }
    }

    std::vector<Slot> slots_;  // power-of-two size, at most three quarters full
    std::size_t size_ = 0;
};

}  // namespace kuv::core

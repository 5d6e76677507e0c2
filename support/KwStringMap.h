// Chained hash map from texts to texts with keys compared without regard to
// case (each UTF-16 unit folded with KwFoldCase). A key keeps the spelling it
// was first stored with. Iteration runs over the buckets in order and along
// each bucket's chain; it is not sorted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "KwTypes.h"

class KwStringMap {
public:
    struct Entry {
        KwString key;
        KwString value;
        uint32_t hash;
    };

    KwStringMap();

    // h = h * 65599 + folded unit over the key's units, from 0 (32-bit arithmetic).
    static uint32_t Hash(KwStringView key);

    const KwString* Find(KwStringView key) const;
    // Stores the value; an existing key (in any mix of cases) keeps its spelling.
    void Set(KwStringView key, KwStringView value);
    // True when the key was present.
    bool Remove(KwStringView key);
    size_t Count() const { return count_; }

    template <class F>
    void ForEach(F&& visit) const {
        for (const auto& chain : buckets_)
            for (const Entry& e : chain) visit(e.key, e.value);
    }

private:
    const Entry* Lookup(KwStringView key, uint32_t hash) const;
    void Grow();

    std::vector<std::vector<Entry>> buckets_;
    size_t count_ = 0;
};

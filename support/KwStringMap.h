// Chained hash map from texts to texts with keys compared without regard to
// case (each UTF-16 unit folded with KwFoldCase). A key keeps the spelling it
// was first stored with. Iteration runs over the buckets in order and along
// each bucket's chain; it is not sorted.
//
// The maps are small (the fields of one tag frame, the items of a file name),
// so the chains are not separate lists: all entries live in one vector kept in
// iteration order (by bucket, then in chain order), which costs one
// allocation per map instead of one per bucket.
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

    KwStringMap() = default;

    // h = h * 65599 + folded unit over the key's units, from 0 (32-bit arithmetic).
    static uint32_t Hash(KwStringView key);

    const KwString* Find(KwStringView key) const;
    // Stores the value; an existing key (in any mix of cases) keeps its spelling.
    void Set(KwStringView key, KwStringView value);
    // True when the key was present.
    bool Remove(KwStringView key);
    size_t Count() const { return entries_.size(); }

    template <class F>
    void ForEach(F&& visit) const {
        for (const Entry& e : entries_) visit(e.key, e.value);
    }

private:
    size_t Bucket(uint32_t hash) const { return hash % buckets_; }
    // Position of the entry with this key, or -1.
    ptrdiff_t Lookup(KwStringView key, uint32_t hash) const;
    // Position of the first entry whose bucket comes after `bucket`.
    size_t ChainEnd(size_t bucket) const;
    void Grow();

    std::vector<Entry> entries_;  // by bucket, then in chain order
    size_t buckets_ = 17;
};

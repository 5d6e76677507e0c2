#include "KwStringMap.h"

#include <algorithm>

namespace {
// Up to this many entries a straight scan beats a search for the bucket.
constexpr size_t kScanLimit = 16;
}  // namespace

uint32_t KwStringMap::Hash(KwStringView key) {
    uint32_t h = 0;
    for (KwChar c : key) h = h * 65599u + static_cast<uint16_t>(KwFoldCase(c));
    return h;
}

size_t KwStringMap::ChainEnd(size_t bucket) const {
    const auto it = std::upper_bound(entries_.begin(), entries_.end(), bucket,
                                     [this](size_t b, const Entry& e) { return b < Bucket(e.hash); });
    return static_cast<size_t>(it - entries_.begin());
}

ptrdiff_t KwStringMap::Lookup(KwStringView key, uint32_t hash) const {
    size_t first = 0;
    size_t last = entries_.size();
    if (last > kScanLimit) {
        const size_t bucket = Bucket(hash);
        const auto begin = std::lower_bound(entries_.begin(), entries_.end(), bucket,
                                            [this](const Entry& e, size_t b) { return Bucket(e.hash) < b; });
        first = static_cast<size_t>(begin - entries_.begin());
        last = ChainEnd(bucket);
    }
    for (size_t i = first; i < last; ++i)
        if (entries_[i].hash == hash && KwEqualsNoCase(entries_[i].key, key)) return static_cast<ptrdiff_t>(i);
    return -1;
}

const KwString* KwStringMap::Find(KwStringView key) const {
    const ptrdiff_t i = Lookup(key, Hash(key));
    return i >= 0 ? &entries_[static_cast<size_t>(i)].value : nullptr;
}

void KwStringMap::Set(KwStringView key, KwStringView value) {
    const uint32_t hash = Hash(key);
    if (const ptrdiff_t i = Lookup(key, hash); i >= 0) {
        entries_[static_cast<size_t>(i)].value.assign(value);  // the key keeps its first spelling
        return;
    }
    if (entries_.size() >= buckets_ * 2) Grow();
    if (entries_.empty()) entries_.reserve(4);  // room for a frame's fields at once
    const size_t at = ChainEnd(Bucket(hash));
    entries_.insert(entries_.begin() + static_cast<ptrdiff_t>(at), Entry{KwString(key), KwString(value), hash});
}

bool KwStringMap::Remove(KwStringView key) {
    const ptrdiff_t i = Lookup(key, Hash(key));
    if (i < 0) return false;
    entries_.erase(entries_.begin() + i);
    return true;
}

void KwStringMap::Grow() {
    // Rehashing walks the old order and appends to the new chains, so each
    // new chain keeps the entries' old relative order: a stable sort by the
    // new bucket.
    buckets_ = buckets_ * 2 + 1;
    std::stable_sort(entries_.begin(), entries_.end(),
                     [this](const Entry& a, const Entry& b) { return Bucket(a.hash) < Bucket(b.hash); });
}

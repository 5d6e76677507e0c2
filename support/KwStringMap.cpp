#include "KwStringMap.h"

namespace {
constexpr size_t kInitialBuckets = 17;
}

KwStringMap::KwStringMap() : buckets_(kInitialBuckets) {}

uint32_t KwStringMap::Hash(KwStringView key) {
    uint32_t h = 0;
    for (KwChar c : key) h = h * 65599u + static_cast<uint16_t>(KwFoldCase(c));
    return h;
}

const KwStringMap::Entry* KwStringMap::Lookup(KwStringView key, uint32_t hash) const {
    for (const Entry& e : buckets_[hash % buckets_.size()])
        if (e.hash == hash && KwEqualsNoCase(e.key, key)) return &e;
    return nullptr;
}

const KwString* KwStringMap::Find(KwStringView key) const {
    const Entry* e = Lookup(key, Hash(key));
    return e ? &e->value : nullptr;
}

void KwStringMap::Set(KwStringView key, KwStringView value) {
    const uint32_t hash = Hash(key);
    for (Entry& e : buckets_[hash % buckets_.size()]) {
        if (e.hash == hash && KwEqualsNoCase(e.key, key)) {
            e.value.assign(value);  // the key keeps its first spelling
            return;
        }
    }
    if (count_ >= buckets_.size() * 2) Grow();
    buckets_[hash % buckets_.size()].push_back(Entry{KwString(key), KwString(value), hash});
    ++count_;
}

bool KwStringMap::Remove(KwStringView key) {
    const uint32_t hash = Hash(key);
    auto& chain = buckets_[hash % buckets_.size()];
    for (auto it = chain.begin(); it != chain.end(); ++it) {
        if (it->hash == hash && KwEqualsNoCase(it->key, key)) {
            chain.erase(it);
            --count_;
            return true;
        }
    }
    return false;
}

void KwStringMap::Grow() {
    std::vector<std::vector<Entry>> grown(buckets_.size() * 2 + 1);
    for (auto& chain : buckets_)
        for (Entry& e : chain) grown[e.hash % grown.size()].push_back(std::move(e));
    buckets_.swap(grown);
}

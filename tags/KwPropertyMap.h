// KwPropertyMap: the small dictionary of texts that carries the items of a
// file name, the fields of an ID3v2 frame and the items the host passes with
// a file. Keys are compared without regard to case and keep the spelling they
// were first stored with. The hash map behind it exists only while the map
// holds entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "support/KwArchive.h"
#include "support/KwStringMap.h"
#include "support/KwTypes.h"
#include "support/KwXml.h"

class KwPropertyMap {
public:
    KwPropertyMap() = default;
    // A map moved from is empty.
    KwPropertyMap(KwPropertyMap&& other) noexcept : map_(std::move(other.map_)) { other.map_.reset(); }
    KwPropertyMap& operator=(KwPropertyMap&& other) noexcept {
        map_ = std::move(other.map_);
        if (&other != this) other.map_.reset();
        return *this;
    }
    // Copies go through Assign.
    KwPropertyMap(const KwPropertyMap&) = delete;
    KwPropertyMap& operator=(const KwPropertyMap&) = delete;

    // The operations in their fixed order.
    virtual bool Exists(KwStringView key) const;
    // The value; when absent the default, or the empty text when there is none.
    virtual KwString GetString(KwStringView key, const KwChar* defaultValue = nullptr) const;
    virtual int32_t GetInt(KwStringView key, int32_t defaultValue = 0) const;
    virtual double GetDouble(KwStringView key, double defaultValue = 0.0) const;
    virtual uint64_t GetPointer(KwStringView key, uint64_t defaultValue = 0) const;
    // With `removeIfEmpty` set, an empty value removes the key instead.
    virtual void SetString(KwStringView key, KwStringView value, bool removeIfEmpty = false);
    virtual void SetInt(KwStringView key, int32_t value);
    virtual void SetPointer(KwStringView key, uint64_t value);
    virtual void SetDouble(KwStringView key, double value);
    virtual void Clear();
    virtual void Remove(KwStringView key);
    virtual bool Assign(const KwPropertyMap& other);
    virtual bool Equals(const KwPropertyMap& other) const;
    // Writes the entries (or the count 0 when `store` is off or the map is empty).
    virtual void Save(KwArchive& archive, bool store) const;
    // Replaces the contents with what Save wrote at `position` and advances it.
    // Damaged data leaves the map empty and returns false.
    virtual bool Load(const KwArchive& archive, size_t& position);
    virtual bool LoadFromStart(const KwArchive& archive);
    virtual KwString ToXML(KwStringView elementName, bool skipIfEmpty, double version) const;
    virtual bool FromXML(KwStringView xml, KwStringView elementName);
    virtual void WriteXMLItems(KwXmlWriter& writer) const;
    // Clears, then stores every "Item" child of `outer`.
    virtual void ReadXMLItems(const KwXmlElement& outer);
    // Each entry as prefix, key, ": ", value, suffix.
    virtual KwString ToText(KwStringView prefix, KwStringView suffix) const;

    virtual ~KwPropertyMap();

    bool IsEmpty() const { return !map_; }
    size_t Count() const { return map_ ? map_->Count() : 0; }
    // Null when absent.
    const KwString* Find(KwStringView key) const { return map_ ? map_->Find(key) : nullptr; }
    // Visits (key, value) in iteration order.
    template <class F>
    void ForEach(F&& visit) const {
        if (map_) map_->ForEach(visit);
    }

private:
    // Held in place: a map is made for nearly every tag frame, and a
    // separate allocation for each would cost more than the map itself.
    std::optional<KwStringMap> map_;
};

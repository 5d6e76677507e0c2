// Property maps: keys without regard to case (beyond ASCII too), and what the
// XML and serial forms do that the fuzz target's round trips do not check.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "support/KwArchive.h"
#include "support/KwStringMap.h"
#include "tags/KwPropertyMap.h"

namespace {

std::string U8(KwStringView s) { return KwToUtf8(s); }

TEST(KwPropertyMap, KeysIgnoreCaseAndEmptyValuesRemove) {
    KwPropertyMap map;
    EXPECT_EQ(U8(map.GetString(KW_T("x"), KW_T("dflt"))), "dflt");
    map.Remove(KW_T("nothing"));  // no table yet: harmless
    // The first spelling of a key stays; folding reaches beyond ASCII.
    map.SetString(KW_T("Track"), KW_T("7"));
    map.SetString(KW_T("TRACK"), KW_T("8"));
    EXPECT_EQ(U8(map.ToText(KW_T("["), KW_T("]"))), "[Track: 8]");
    map.SetString(KW_T("\u00C4RGER"), KW_T("x"));
    EXPECT_EQ(U8(map.GetString(KW_T("\u00E4rger"))), "x");
    map.SetString(KW_T("track"), KW_T(""), true);  // removal by an empty value
    EXPECT_EQ(map.Count(), 1u);
}

TEST(KwPropertyMap, XmlEscapesAndFindsNestedElement) {
    KwPropertyMap map;
    EXPECT_EQ(U8(map.ToXML(KW_T("Props"), true, 1.0)), "");
    map.SetString(KW_T("Markup"), KW_T("a & b\x1F"));
    const KwString xml = map.ToXML(KW_T("Props"), true, 1.0);
    EXPECT_NE(xml.find(KW_T("a &amp; b&#x1F;")), KwString::npos);
    // The element may sit deeper in a larger document; broken markup leaves the map untouched.
    KwPropertyMap nested;
    ASSERT_TRUE(nested.FromXML(KW_T("<Root><Other/><Props version=\"1.0\"><Item Name=\"k\">v</Item></Props></Root>"),
                               KW_T("Props")));
    EXPECT_EQ(U8(nested.GetString(KW_T("K"))), "v");
    EXPECT_FALSE(nested.FromXML(KW_T("<Root/>"), KW_T("Props")));
    EXPECT_FALSE(nested.FromXML(KW_T("<Props><Item Name=\"k\">&bogus;</Item></Props>"), KW_T("Props")));
    EXPECT_EQ(U8(nested.GetString(KW_T("k"))), "v");
}

TEST(KwPropertyMap, RecordsFollowEachOther) {
    KwPropertyMap map;
    map.SetString(KW_T("Title"), KW_T("Caf\u00E9 \U0001F3B5"));
    KwArchive archive;
    map.Save(archive, true);
    map.Save(archive, false);  // a second record: count 0
    KwPropertyMap loaded;
    loaded.SetString(KW_T("stale"), KW_T("x"));
    size_t position = 0;
    ASSERT_TRUE(loaded.Load(archive, position));
    EXPECT_TRUE(loaded.Equals(map));
    ASSERT_TRUE(loaded.Load(archive, position));
    EXPECT_TRUE(loaded.IsEmpty());
    EXPECT_EQ(position, archive.Size());
}

// The map keeps its entries in one vector; iteration must still run as over
// chained buckets (17 at first, 2n + 1 when the entries reach twice their
// number, rehashed in iteration order). A model with real chains checks it
// through growth, replacement in another case and removal.
TEST(KwStringMap, IteratesLikeChainedBuckets) {
    std::vector<std::vector<std::pair<KwString, KwString>>> model(17);
    size_t count = 0;
    auto chainOf = [&](KwStringView key) -> auto& { return model[KwStringMap::Hash(key) % model.size()]; };
    auto find = [&](KwStringView key) -> std::pair<KwString, KwString>* {
        for (auto& e : chainOf(key))
            if (KwEqualsNoCase(e.first, key)) return &e;
        return nullptr;
    };
    KwStringMap map;
    for (int i = 0; i < 300; ++i) {
        const KwString key = KwFromUtf8((i % 3 ? "Key " : "KEY ") + std::to_string(i * 7919 % 101));
        const KwString value = KwFromUtf8(std::to_string(i));
        if (i % 11 == 10) {
            auto& chain = chainOf(key);
            const bool had = std::erase_if(chain, [&](auto& e) { return KwEqualsNoCase(e.first, key); }) > 0;
            count -= had;
            EXPECT_EQ(map.Remove(key), had) << i;
            continue;
        }
        map.Set(key, value);
        if (auto* e = find(key)) {
            e->second = value;
            continue;
        }
        if (count >= model.size() * 2) {
            std::vector<std::vector<std::pair<KwString, KwString>>> grown(model.size() * 2 + 1);
            for (auto& chain : model)
                for (auto& e : chain) grown[KwStringMap::Hash(e.first) % grown.size()].push_back(std::move(e));
            model.swap(grown);
        }
        chainOf(key).emplace_back(key, value);
        ++count;
    }
    std::vector<std::pair<KwString, KwString>> expected, seen;
    for (const auto& chain : model) expected.insert(expected.end(), chain.begin(), chain.end());
    map.ForEach([&](const KwString& k, const KwString& v) { seen.emplace_back(k, v); });
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(map.Count(), count);
    for (const auto& [k, v] : expected) EXPECT_EQ(*map.Find(KwFromUtf8(KwToUtf8(k))), v);
}

}  // namespace

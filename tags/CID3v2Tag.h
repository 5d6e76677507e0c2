// CID3v2Tag: one ID3v2 tag (versions 2.2, 2.3 and 2.4 read; 2.3 and 2.4
// written). It parses a block of bytes into frames with decoded fields,
// answers the host's field names through the frame-to-field table, stores
// fields by replacing frames, and renders the tag back into bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "plugin/kwapi/IKwDllString.h"
#include "plugin/kwapi/IKwTools.h"
#include "tags/CID3v2Frame.h"
#include "tags/KwPropertyMap.h"

// Row flags of the frame-to-field table.
constexpr uint32_t kFieldNumberTotal = 0x1;
constexpr uint32_t kFieldGenre = 0x2;
constexpr uint32_t kFieldReplayGain = 0x4;
constexpr uint32_t kFieldReplayPeak = 0x8;
constexpr uint32_t kFieldList = 0x10;
constexpr uint32_t kFieldDate = 0x20;
constexpr uint32_t kFieldUitsPayload = 0x40;
constexpr uint32_t kFieldBuiltIn = 0x10000;
constexpr uint32_t kFieldAnyPicture = 0x20000;
constexpr uint32_t kFieldWrite23 = 0x40000;
constexpr uint32_t kFieldWrite24 = 0x80000;
constexpr uint32_t kFieldAnyDescription = 0x100000;
constexpr uint32_t kFieldAllRows = 0xFFFFFFFFu;

// One row of the frame-to-field table.
struct CID3v2Field {
    char frameId[4] = {};
    KwString name;
    KwString description;
    uint32_t flags = 0;
    int32_t pictureType = -1;

    std::string_view FrameId() const { return {frameId, 4}; }
};

// Number of rows the table is built with.
constexpr size_t kID3BuiltInRows = 86;
// Owner identifier of the UITS payload's PRIV frame.
extern const KwChar kUitsOwner[];
// Genre name of an ID3v1 genre number 0 to 147; null otherwise.
const char* ID3v2GenreName(int number);

// Field names compare without regard to case; the index finds rows by any
// spelling without making a folded copy.
struct ID3v2FoldHash {
    using is_transparent = void;
    size_t operator()(KwStringView s) const;
};
struct ID3v2FoldEqual {
    using is_transparent = void;
    bool operator()(KwStringView a, KwStringView b) const { return KwEqualsNoCase(a, b); }
};
using ID3v2RowIndex = std::unordered_map<KwString, std::vector<size_t>, ID3v2FoldHash, ID3v2FoldEqual>;

class CID3TagBase {
public:
    virtual ~CID3TagBase() = default;
    // Fills `result` with the fields of the frame that holds `name`.
    virtual bool LookupField(KwStringView name, KwPropertyMap& result) = 0;
};

class CID3v2Tag : public CID3TagBase {
public:
    // `tools` gives the date, text and decompression services and the
    // translator; without it those conversions are skipped.
    explicit CID3v2Tag(IKwTools* tools = nullptr);
    ~CID3v2Tag() override;
    CID3v2Tag(const CID3v2Tag&) = delete;
    CID3v2Tag& operator=(const CID3v2Tag&) = delete;

    // Parses a tag from `bytes`; returns whether it is a valid tag.
    bool Parse(const uint8_t* bytes, size_t size);
    bool Parse(const std::vector<uint8_t>& bytes) { return Parse(bytes.data(), bytes.size()); }
    void Reset();

    bool LookupField(KwStringView name, KwPropertyMap& result) override;
    // The value for GetProperty: writes it into `result` and sets `found`.
    bool GetField(KwStringView name, IKwDllString* result, bool* found);
    // Replaces the frames of a field; true when the tag's frames changed.
    bool StoreField(KwStringView name, KwStringView value);
    // The one-line summary text of the frame at `position`.
    KwString FrameDisplayText(size_t position);
    // The same text appended to `out`.
    void AppendFrameDisplayText(size_t position, KwString& out);
    // The complete tag as bytes; false when it cannot be represented.
    bool Render(std::vector<uint8_t>& out);

    bool IsValid() const { return valid_; }
    uint8_t MajorVersion() const { return header_[3]; }
    size_t RawLength() const { return rawLength_; }
    size_t FrameCount() const { return frames_.size(); }
    const CID3v2Frame& Frame(size_t i) const { return frames_[i]; }
    bool Changed() const { return changed_; }

    // The frame-to-field table: the built-in rows (shared by every tag), then
    // the rows added at run time.
    size_t RowCount() const { return kID3BuiltInRows + added_.size(); }
    const CID3v2Field& Row(size_t i) const {
        return i < kID3BuiltInRows ? builtIn_[i] : *added_[i - kID3BuiltInRows];
    }
    void AddRow(std::string_view frameId, KwStringView name, KwStringView description, uint32_t flags,
                int32_t pictureType = -1);
    // The next row of `name` at or after `cursor` whose flags share a bit with
    // `mask`; advances the cursor past it. With `create`, a name that has no
    // such row (and is not "Year") first gets its TXXX and COMM rows.
    const CID3v2Field* NextRow(KwStringView name, size_t& cursor, bool create, uint32_t mask);
    // The rows the table is built with, shared by every tag.
    static const std::vector<CID3v2Field>& BuiltInRows();
    // Their positions by name (without regard to case).
    static const ID3v2RowIndex& BuiltInIndex();
    // The position of the first built-in row for a frame (-1: none).
    int RowPositionOf(const CID3v2Frame& frame) const;

private:
    struct Match {
        const CID3v2Field* row;
        size_t frame;
    };
    // The table positions of a name's rows: built-in ones first, then added ones.
    struct RowList {
        const std::vector<size_t>* builtIn = nullptr;
        const std::vector<size_t>* added = nullptr;
        uint32_t builtInFlags = 0;  // the union of the built-in rows' flags
        size_t Size() const { return (builtIn ? builtIn->size() : 0) + (added ? added->size() : 0); }
        size_t operator[](size_t k) const {
            const size_t n = builtIn ? builtIn->size() : 0;
            return k < n ? (*builtIn)[k] : (*added)[k - n];
        }
    };
    RowList RowsOf(KwStringView name) const;
    // Whether any of the rows carries a flag of `mask`.
    bool AnyRow(const RowList& rows, uint32_t mask) const;
    // Adds the TXXX and COMM rows of a name that has no row to read or write.
    bool CreateRows(KwStringView name);
    // The first frame held by one of the rows.
    bool MatchRows(const RowList& rows, Match& match) const;
    // The first frame each built-in row matches (-1: none), found in one pass
    // over the frames when first needed after they changed.
    const std::array<int32_t, kID3BuiltInRows>& BuiltInMatches() const;
    void FramesChanged() { builtInMatchesValid_ = false; }
    // True when the tag surely holds no value for `name`: one lookup and one
    // bit instead of the row search, for the names most often asked for
    // (a host asks for every field, and most are not in a given tag).
    bool KnownAbsent(KwStringView name) const;
    // The number of the name of a built-in row (names numbered from 0).
    static size_t BuiltInNameOfRow(size_t row);

    static const std::vector<size_t>* BuiltInPositions(KwStringView name, uint32_t& flags);
    bool ReadFrames(const uint8_t* raw, size_t start, size_t readable);
    void RebuildPicture22(CID3v2Frame& frame);
    // Every (row, frame) pair of a field, or only the first.
    std::vector<Match> FindFrames(KwStringView name, bool create, bool firstOnly = false);
    bool FindForReading(KwStringView name, Match& match);
    bool FrameMatches(const CID3v2Field& row, const CID3v2Frame& frame) const;
    // The value as read through a row's flags; `original` receives the whole
    // value of a number/total row.
    void AdjustValue(const CID3v2Field& row, KwString& value, KwString* original);
    // Whether AdjustValue may change a value read through `row`.
    static bool Adjusts(const CID3v2Field& row);
    // Writes the picture of an APIC frame to the temporary image file; its path.
    KwString ImageFileValue(const CID3v2Frame& frame);
    KwString Translate(const KwChar* text);
    // Writer (ID3v2Writer.cpp).
    bool BuildFrame(const CID3v2Field& row, KwStringView value, const KwString& original, CID3v2Frame& frame);
    int CompareFrames(const CID3v2Frame& a, const CID3v2Frame& b);
    void StorePodcastFields();

    IKwTools* tools_;
    const CID3v2Field* builtIn_;  // BuiltInRows(), looked up once
    // Rows added at run time, each at a stable address; most tags add none,
    // and an empty vector costs no allocation (unlike an empty deque).
    std::vector<std::unique_ptr<CID3v2Field>> added_;
    ID3v2RowIndex addedIndex_;       // name -> positions of added rows
    uint64_t addedLengths_ = 0;      // bit (length % 64) set for each added name
    bool valid_ = false;
    size_t rawLength_ = 0;  // bytes the tag was parsed from
    uint8_t header_[10] = {};
    uint32_t tagSize_ = 0;
    std::vector<CID3v2Frame> frames_;
    mutable std::array<int32_t, kID3BuiltInRows> builtInMatches_{};
    mutable bool builtInMatchesValid_ = false;
    // One bit per built-in name: a row of the name (that carries flags) has
    // a frame. Found with builtInMatches_.
    mutable std::array<uint64_t, 2> namesPresent_{};
    bool changed_ = false;
};

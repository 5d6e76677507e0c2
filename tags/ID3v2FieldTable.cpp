// The frame-to-field table: the 86 built-in rows, run-time growth, and the
// search for the frames that hold a field.
#include <algorithm>
#include <cstring>

#include "tags/CID3v2Tag.h"

const KwChar kUitsOwner[] = KW_T("uits-owner@dsdinput.invalid");

namespace {

struct BuiltInRow {
    const char* name;
    const char* frameId;
    const KwChar* description;  // null: empty
    uint32_t flags;
    int32_t pictureType;
};

// Descriptions "Quillbox: <field name>" are filled in when the table is built.
const KwChar kQuillbox[] = KW_T("Quillbox: ");
#define QB KW_T("\x01")

const BuiltInRow kBuiltInRows[kID3BuiltInRows] = {
    {"Name", "TIT2", nullptr, 0xc0000, -1},
    {"Artist", "TPE1", nullptr, 0xc0000, -1},
    {"Album Artist", "TPE2", nullptr, 0xc0000, -1},
    {"Band", "TXXX", KW_T("Kw/Band"), 0xc0000, -1},
    {"Album", "TALB", nullptr, 0xc0000, -1},
    {"Track #", "TRCK", nullptr, 0xc0001, -1},
    {"Disc #", "TPOS", nullptr, 0xc0001, -1},
    {"Date", "TDRC", nullptr, 0x80020, -1},
    {"Date", "TXXX", KW_T("Kw/Date"), 0x40000, -1},
    {"Year", "TYER", nullptr, 0x40000, -1},
    {"Date (release)", "TDRL", nullptr, 0x20, -1},
    {"Genre", "TCON", nullptr, 0xc0002, -1},
    {"Rating", "POPM", nullptr, 0xc0000, -1},
    {"Rating", "TXXX", KW_T("RATING"), 0, -1},
    {"Composer", "TCOM", nullptr, 0xc0000, -1},
    {"Conductor", "TPE3", nullptr, 0xc0000, -1},
    {"Copyright", "TCOP", nullptr, 0xc0000, -1},
    {"Encoding Settings", "TSSE", nullptr, 0xc0000, -1},
    {"BPM", "TBPM", nullptr, 0xc0000, -1},
    {"Peak Level", "TXXX", KW_T("replaygain_track_peak"), 0xc0008, -1},
    {"Replay Gain", "TXXX", KW_T("replaygain_track_gain"), 0xc0004, -1},
    {"Episode URL", "TXXX", KW_T("Episode URL"), 0xc0000, -1},
    {"Feed URL", "TXXX", KW_T("Feed URL"), 0xc0000, -1},
    {"Comment", "COMM", nullptr, 0xc0000, -1},
    {"Notes", "TXXX", KW_T("Notes"), 0xc0000, -1},
    {"Notes", "QBGN", nullptr, 0, -1},
    {"Lyrics", "USLT", nullptr, 0x1c0000, -1},
    {"Lyrics", "TXXX", KW_T("UNSYNCED LYRICS"), 0, -1},
    {"Image File", "APIC", nullptr, 0xc0000, 3},
    {"Image File", "APIC", nullptr, 0, 0},
    {"Image File", "APIC", nullptr, 0x20000, -1},
    {"Tempo", "COMM", KW_T("MusicMatch_Tempo"), 0xc0000, -1},
    {"Mood", "TMOO", nullptr, 0x80000, -1},
    {"Mood", "TXXX", KW_T("Mood"), 0x40000, -1},
    {"Mood", "COMM", KW_T("MusicMatch_Mood"), 0, -1},
    {"Situation", "COMM", KW_T("MusicMatch_Situation"), 0xc0000, -1},
    {"Bios", "COMM", KW_T("MusicMatch_Bio"), 0xc0000, -1},
    {"Preference", "COMM", KW_T("MusicMatch_Preference"), 0xc0000, -1},
    {"Lyricist", "TEXT", nullptr, 0xc0000, -1},
    {"Original Lyricist", "TOLY", nullptr, 0xc0000, -1},
    {"Original Artist", "TOPE", nullptr, 0xc0000, -1},
    {"Initial Key", "TKEY", nullptr, 0xc0000, -1},
    {"Subtitle", "TIT3", nullptr, 0xc0000, -1},
    {"Grouping", "TIT1", nullptr, 0xc0000, -1},
    {"Publisher", "TPUB", nullptr, 0xc0000, -1},
    {"Soloists", "TXXX", KW_T("Soloists"), 0xc0000, -1},
    {"Instruments", "COMM", KW_T("MusicMatch_ClassicalInstrument"), 0xc0000, -1},
    {"Featured Performers", "COMM", KW_T("MusicMatch_ClassicalFeaturedPerformers"), 0xc0000, -1},
    {"Classical Genre", "COMM", KW_T("MusicMatch_ClassicalGenre"), 0xc0000, -1},
    {"Track Artist", "COMM", KW_T("MusicMatch_TrackArtist"), 0xc0000, -1},
    {"Album Sort", "TSOA", nullptr, 0xc0000, -1},
    {"Album Artist Sort", "TSO2", nullptr, 0xc0000, -1},
    {"Artist Sort", "TSOP", nullptr, 0xc0000, -1},
    {"Composer Sort", "TSOC", nullptr, 0xc0000, -1},
    {"Title Sort", "TSOT", nullptr, 0xc0000, -1},
    {"UITS Payload", "PRIV", kUitsOwner, 0xc0040, -1},
    {"Involved People", "IPLS", nullptr, 0xc0000, -1},
    {"Original Release Year", "TORY", nullptr, 0xc0000, -1},
    {"Release Medium", "TMED", nullptr, 0xc0000, -1},
    {"ISRC", "TSRC", nullptr, 0xc0000, -1},
    {"Commercial URL", "WCOM", nullptr, 0xc0000, -1},
    {"Copyright URL", "WCOP", nullptr, 0xc0000, -1},
    {"File URL", "WOAF", nullptr, 0xc0000, -1},
    {"Artist URL", "WOAR", nullptr, 0xc0000, -1},
    {"Source URL", "WOAS", nullptr, 0xc0000, -1},
    {"Radio Station URL", "WORS", nullptr, 0xc0000, -1},
    {"Payment URL", "WPAY", nullptr, 0xc0000, -1},
    {"Publisher URL", "WPUB", nullptr, 0xc0000, -1},
    {"iTunes Compilation", "TCMP", nullptr, 0xc0000, -1},
    {"iTunes Gapless", "COMM", KW_T("iTunSMPB"), 0xc0000, -1},
    {"!@#$% iTunes Podcast Flag !@#$%", "PCST", nullptr, 0xc0005, -1},
    {"Episode URL", "TGID", nullptr, 0, -1},
    {"!@#$% iTunes Podcast Episode URL !@#$%", "TGID", nullptr, 0xc0000, -1},
    {"Feed URL", "WFED", nullptr, 0, -1},
    {"!@#$% iTunes Podcast Feed URL !@#$%", "WFED", nullptr, 0xc0000, -1},
    {"Comment", "TDES", nullptr, 0, -1},
    {"!@#$% iTunes Podcast Description !@#$%", "TDES", nullptr, 0xc0000, -1},
    {"!@#$% iTunes Podcast Date !@#$%", "TDRL", nullptr, 0xc0020, -1},
    {"Album Artist", "TXXX", KW_T("Album Artist"), 0xc0000, -1},
    {"Album Artist", "COMM", QB, 0, -1},
    {"Peak Level", "COMM", QB, 0, -1},
    {"Replay Gain", "COMM", QB, 0, -1},
    {"Publisher", "COMM", QB, 0, -1},
    {"Band", "TXXX", KW_T("Band"), 0, -1},
    {"Date", "TXXX", KW_T("Date"), 0, -1},
    {"Lyrics", "TXXX", KW_T("Lyrics"), 0, -1},
};

const char* const kListFields[] = {"Artist",   "Genre",      "Keywords", "People",       "Places",
                                   "Events",   "Country",    "Producer", "Language",     "Composer",
                                   "Conductor", "Soloists",  "Director", "Screenwriter", "Actors",
                                   "Studios",  "Credits",    "Cinematographer", "Editor", "Distributor",
                                   "Prequel",  "Sequel",     "Music By", "Author"};

KwString Ascii(const char* s) {
    KwString out;
    while (*s) out.push_back(static_cast<KwChar>(*s++));
    return out;
}

bool DescriptionCompared(std::string_view id) {
    return id == "TXXX" || id == "COMM" || id == "USLT" || id == "QBGN";
}

}  // namespace

size_t ID3v2FoldHash::operator()(KwStringView s) const {
    size_t h = 0;
    for (KwChar c : s) h = h * 65599 + static_cast<uint16_t>(KwFoldCase(c));
    return h;
}

const std::vector<CID3v2Field>& CID3v2Tag::BuiltInRows() {
    static const std::vector<CID3v2Field> rows = [] {
        std::vector<CID3v2Field> out;
        out.reserve(kID3BuiltInRows);
        for (const BuiltInRow& r : kBuiltInRows) {
            CID3v2Field row;
            std::memcpy(row.frameId, r.frameId, 4);
            row.name = Ascii(r.name);
            row.flags = r.flags | kFieldBuiltIn;
            for (const char* list : kListFields)
                if (std::strcmp(list, r.name) == 0) row.flags |= kFieldList;
            row.description = r.description ? KwString(r.description) : KwString();
            if (row.description == QB) row.description = kQuillbox + row.name;
            row.pictureType = r.pictureType;
            out.push_back(std::move(row));
        }
        return out;
    }();
    return rows;
}

const ID3v2RowIndex& CID3v2Tag::BuiltInIndex() {
    static const ID3v2RowIndex index = [] {
        ID3v2RowIndex out;
        const std::vector<CID3v2Field>& rows = BuiltInRows();
        for (size_t i = 0; i < rows.size(); ++i) out[rows[i].name].push_back(i);
        return out;
    }();
    return index;
}

// Names usually arrive spelled as in the table: an exact lookup first, the
// case-folding one only when that misses.
namespace {

// Open-addressing table of the built-in names as spelled in the table.
class ExactNames {
public:
    struct Slot {
        size_t hash = 0;
        KwStringView key;
        const std::vector<size_t>* positions = nullptr;
        uint32_t flags = 0;
        uint8_t id = 0;  // the name's number, 0 to the count of names - 1
        // A tag without a frame for any of the name's rows (that carry flags)
        // has no value for it, as long as no row of the name was added at
        // run time: true when the field is then not looked for in the TXXX
        // frames either (a row writable in the tag's version, or "Year").
        // "Image File" is found even without a picture: never absent.
        bool absent23 = false;
        bool absent24 = false;
    };

    ExactNames(const ID3v2RowIndex& index, const std::vector<CID3v2Field>& rows) {
        uint8_t id = 0;
        for (const auto& [key, positions] : index) {
            const size_t h = Hash(key);
            size_t i = h & kMask;
            while (slots_[i].positions) i = (i + 1) & kMask;
            const uint32_t flags = RowFlags(positions, rows);
            const bool picture = key == KW_T("Image File");
            const bool year = KwEqualsNoCase(key, KW_T("Year"));
            slots_[i] = {h,
                         KwStringView(key),
                         &positions,
                         flags,
                         id,
                         !picture && ((flags & kFieldWrite23) || year),
                         !picture && ((flags & kFieldWrite24) || year)};
            for (const size_t p : positions) rowName_[p] = id;
            ++id;
        }
    }
    // The name's slot; null for a name not spelled as in the table.
    const Slot* FindSlot(KwStringView name) const {
        const size_t h = Hash(name);
        for (size_t i = h & kMask; slots_[i].positions; i = (i + 1) & kMask)
            if (slots_[i].hash == h && SameUnits(slots_[i].key, name)) return &slots_[i];
        return nullptr;
    }
    // The name's rows and the union of their flags.
    const std::vector<size_t>* Find(KwStringView name, uint32_t& flags) const {
        const Slot* slot = FindSlot(name);
        if (!slot) return nullptr;
        flags = slot->flags;
        return slot->positions;
    }
    // The number of the name of a built-in row.
    uint8_t NameOfRow(size_t row) const { return rowName_[row]; }
    static uint32_t RowFlags(const std::vector<size_t>& positions, const std::vector<CID3v2Field>& rows) {
        uint32_t flags = 0;
        for (const size_t p : positions) flags |= rows[p].flags;
        return flags;
    }

private:
    // Equal texts, compared four units at a time (names are short: a library
    // call costs more than the comparison).
    static bool SameUnits(KwStringView a, KwStringView b) {
        if (a.size() != b.size()) return false;
        const KwChar* x = a.data();
        const KwChar* y = b.data();
        size_t n = a.size();
        for (; n >= 4; n -= 4, x += 4, y += 4) {
            uint64_t u, v;
            std::memcpy(&u, x, sizeof(u));
            std::memcpy(&v, y, sizeof(v));
            if (u != v) return false;
        }
        for (; n > 0; --n)
            if (*x++ != *y++) return false;
        return true;
    }
    static constexpr size_t kMask = 255;  // room for far more than the table's names
    // The length and three of the units tell the table's names well enough
    // apart; names are looked up once per field read, so the hash does not
    // walk the whole name.
    static size_t Hash(KwStringView s) {
        const size_t n = s.size();
        uint64_t h = n;
        if (n > 0)
            h = (h << 48) ^ static_cast<uint16_t>(s[0]) ^ (uint64_t{static_cast<uint16_t>(s[n / 2])} << 16) ^
                (uint64_t{static_cast<uint16_t>(s[n - 1])} << 32);
        return static_cast<size_t>((h * 0x9E3779B97F4A7C15ull) >> 56);  // the well-mixed top bits
    }
    Slot slots_[kMask + 1];
    uint8_t rowName_[kID3BuiltInRows] = {};
};

const ExactNames& Exact() {
    static const ExactNames exact(CID3v2Tag::BuiltInIndex(), CID3v2Tag::BuiltInRows());
    return exact;
}

}  // namespace

size_t CID3v2Tag::BuiltInNameOfRow(size_t row) {
    return Exact().NameOfRow(row);
}

bool CID3v2Tag::KnownAbsent(KwStringView name) const {
    const ExactNames::Slot* slot = Exact().FindSlot(name);
    if (!slot || !(MajorVersion() >= 4 ? slot->absent24 : slot->absent23)) return false;
    if ((addedLengths_ & (uint64_t{1} << (name.size() & 63))) && addedIndex_.find(name) != addedIndex_.end())
        return false;
    BuiltInMatches();
    return !(namesPresent_[slot->id / 64] & (uint64_t{1} << (slot->id % 64)));
}

const std::vector<size_t>* CID3v2Tag::BuiltInPositions(KwStringView name, uint32_t& flags) {
    static_assert(kID3BuiltInRows < 128, "names are numbered in two 64-bit words");
    flags = 0;
    if (const std::vector<size_t>* positions = Exact().Find(name, flags)) return positions;
    const ID3v2RowIndex& index = BuiltInIndex();
    const auto it = index.find(name);
    if (it == index.end()) return nullptr;
    flags = ExactNames::RowFlags(it->second, BuiltInRows());
    return &it->second;
}

void CID3v2Tag::AddRow(std::string_view frameId, KwStringView name, KwStringView description, uint32_t flags,
                       int32_t pictureType) {
    CID3v2Field row;
    std::memcpy(row.frameId, frameId.data(), std::min<size_t>(4, frameId.size()));
    row.name = KwString(name);
    row.description = KwString(description);
    row.flags = flags;
    row.pictureType = pictureType;
    added_.push_back(std::make_unique<CID3v2Field>(std::move(row)));
    auto it = addedIndex_.find(name);
    if (it == addedIndex_.end()) it = addedIndex_.emplace(KwString(name), std::vector<size_t>()).first;
    addedLengths_ |= uint64_t{1} << (name.size() & 63);
    it->second.push_back(RowCount() - 1);
}

CID3v2Tag::RowList CID3v2Tag::RowsOf(KwStringView name) const {
    RowList rows;
    rows.builtIn = BuiltInPositions(name, rows.builtInFlags);
    // Names of equal folding have equal lengths: most names are ruled out
    // without hashing.
    if (addedLengths_ & (uint64_t{1} << (name.size() & 63))) {
        const auto added = addedIndex_.find(name);
        if (added != addedIndex_.end()) rows.added = &added->second;
    }
    return rows;
}

bool CID3v2Tag::AnyRow(const RowList& rows, uint32_t mask) const {
    if (rows.builtInFlags & mask) return true;
    if (!rows.added) return false;
    for (const size_t position : *rows.added)
        if (Row(position).flags & mask) return true;
    return false;
}

bool CID3v2Tag::CreateRows(KwStringView name) {
    if (KwEqualsNoCase(name, KW_T("Year"))) return false;
    AddRow("TXXX", name, name, kFieldWrite23 | kFieldWrite24);
    AddRow("COMM", name, kQuillbox + KwString(name), 0);
    return true;
}

const CID3v2Field* CID3v2Tag::NextRow(KwStringView name, size_t& cursor, bool create, uint32_t mask) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const RowList rows = RowsOf(name);
        for (size_t k = cursor; k < rows.Size(); ++k) {
            const CID3v2Field& row = Row(rows[k]);
            if (row.flags & mask) {
                cursor = k + 1;
                return &row;
            }
        }
        if (cursor != 0 || !create || !CreateRows(name)) return nullptr;
        create = false;
    }
    return nullptr;
}

bool CID3v2Tag::FrameMatches(const CID3v2Field& row, const CID3v2Frame& frame) const {
    if (std::memcmp(frame.id, row.frameId, 4) != 0) return false;
    // Descriptions of another length differ without a call to compare them.
    if (DescriptionCompared(row.FrameId()) && !(row.flags & kFieldAnyDescription) &&
        (frame.description.size() != row.description.size() || !KwEqualsNoCase(frame.description, row.description)))
        return false;
    if (row.FrameId() == "APIC" && row.pictureType != -1 && frame.pictureType != row.pictureType) return false;
    return true;
}

std::vector<CID3v2Tag::Match> CID3v2Tag::FindFrames(KwStringView name, bool create, bool firstOnly) {
    std::vector<Match> matches;
    size_t cursor = 0;
    while (const CID3v2Field* row = NextRow(name, cursor, create, kFieldAllRows)) {
        create = false;
        for (size_t f = 0; f < frames_.size(); ++f)
            if (FrameMatches(*row, frames_[f])) {
                matches.push_back({row, f});
                if (firstOnly) return matches;
            }
    }
    return matches;
}

int CID3v2Tag::RowPositionOf(const CID3v2Frame& frame) const {
    const std::vector<CID3v2Field>& rows = BuiltInRows();
    for (size_t i = 0; i < rows.size(); ++i) {
        const CID3v2Field& row = rows[i];
        if (std::memcmp(row.frameId, frame.id, 4) != 0) continue;
        if (!frame.description.empty() && !KwEqualsNoCase(frame.description, row.description)) continue;
        return static_cast<int>(i);
    }
    return -1;
}

const char* ID3v2GenreName(int number) {
    static const char* const kGenres[] = {
        "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
        "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
        "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop",
        "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game",
        "Sound Clip", "Gospel", "Noise", "Alt. Rock", "Bass", "Soul", "Punk", "Space", "Meditative",
        "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial",
        "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40",
        "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave", "Psychedelic", "Rave",
        "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical",
        "Rock & Roll", "Hard Rock", "Folk", "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebop",
        "Latin", "Revival", "Celtic", "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock",
        "Psychedelic Rock", "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic",
        "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus",
        "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad", "Power Ballad",
        "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "Acapella", "Euro-House", "Dance Hall",
        "Goa", "Drum & Bass", "Club House", "Hardcore", "Terror", "Indie", "BritPop", "Black Punk",
        "Polsk Punk", "Beat", "Christian Gangsta", "Heavy Metal", "Black Metal", "Crossover", "Contemporary C",
        "Christian Rock", "Merengue", "Salsa", "Thrash Metal", "Anime", "JPop", "SynthPop"};
    static_assert(sizeof(kGenres) / sizeof(kGenres[0]) == 148);
    return number >= 0 && number < 148 ? kGenres[number] : nullptr;
}

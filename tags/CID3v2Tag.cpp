// Parsing of ID3v2 tags and reading of fields.
#include "tags/CID3v2Tag.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <utility>

#include "support/KwBase64.h"
#include "support/KwDllString.h"
#include "support/KwNumbers.h"
#include "support/KwPlatform.h"
#include "tags/ID3v2Files.h"
#include "tags/ID3v2Text.h"

namespace {

constexpr uint8_t kTagUnsync = 0x80;
constexpr uint8_t kTagExtendedHeader = 0x40;
constexpr uint8_t kTagExperimental = 0x20;
constexpr uint8_t kTagFooter = 0x10;

bool IdChar(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '?'; }

bool ValidId(const uint8_t* p, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (!IdChar(p[i])) return false;
    return true;
}

// Four-character IDs of the version 2.2 frames the table knows.
const char* MapId22(const uint8_t* p) {
    static const char* const kMap[][2] = {
        {"TAL", "TALB"}, {"TP1", "TPE1"}, {"TP2", "TPE2"}, {"TRK", "TRCK"}, {"TYE", "TYER"}, {"TT1", "TIT1"},
        {"TT2", "TIT2"}, {"COM", "COMM"}, {"TEN", "TENC"}, {"TXX", "TXXX"}, {"PIC", "APIC"}, {"TCO", "TCON"},
        {"TPA", "TPOS"}, {"TSA", "TSOA"}, {"TSP", "TSOP"}, {"TCP", "TCMP"}, {"TCM", "TCOM"}, {"UFI", "UFID"}};
    for (const auto& m : kMap)
        if (std::memcmp(p, m[0], 3) == 0) return m[1];
    return nullptr;
}

// A frame ID as one number, for lookups.
uint32_t IdKey(const char* id) {
    uint32_t key;
    std::memcpy(&key, id, 4);
    return key;
}

// The built-in rows by frame ID, in an open-addressing table: every row of
// an ID (to find the frames each row reads) and the first row without a
// description (it names the ID's frames in the summary).
struct BuiltInRowsById {
    struct Slot {
        uint32_t key = 0;  // no frame ID is four zero bytes
        int16_t named = -1;
        uint8_t first = 0;
        uint8_t count = 0;
    };
    static constexpr size_t kMask = 127;
    Slot slots[kMask + 1];
    uint8_t rows[kID3BuiltInRows] = {};

    static const BuiltInRowsById& Get();
    static size_t Hash(uint32_t key) { return static_cast<size_t>((key * 0x9E3779B1u) >> 25); }
    const Slot* Find(uint32_t key) const {
        for (size_t i = Hash(key); slots[i].key; i = (i + 1) & kMask)
            if (slots[i].key == key) return &slots[i];
        return nullptr;
    }
};

// Texts compared on every field read, measured once, when compiling.
constexpr KwStringView kImageFileName = KW_T("Image File");
constexpr KwStringView kYearName = KW_T("Year");
constexpr KwStringView kDateName = KW_T("Date");
constexpr KwStringView kQuillboxPrefix = KW_T("Quillbox: ");

KwString Ascii(const char* s) {
    KwString out;
    while (*s) out.push_back(static_cast<KwChar>(*s++));
    return out;
}

void ReplaceAll(KwString& s, KwStringView from, KwStringView to, bool ignoreCase = false) {
    if (from.empty()) return;
    for (size_t i = 0; i + from.size() <= s.size();) {
        const KwStringView here(s.data() + i, from.size());
        if (ignoreCase ? KwEqualsNoCase(here, from) : here == from) {
            s.replace(i, from.size(), to);
            i += to.size();
        } else {
            ++i;
        }
    }
}

// Bytes as text: a UTF-16 byte-order mark selects UTF-16, otherwise UTF-8
// (with or without its mark).
KwString BytesAsText(const std::vector<uint8_t>& b) {
    if (b.size() >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
        size_t pos = 0;
        return ID3v2ReadText(b.data(), pos, b.size(), kID3Utf16Bom);
    }
    size_t skip = b.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF ? 3 : 0;
    return KwFromUtf8(std::string_view(reinterpret_cast<const char*>(b.data()) + skip, b.size() - skip));
}

}  // namespace

const BuiltInRowsById& BuiltInRowsById::Get() {
    static const BuiltInRowsById table = [] {
        static_assert(kID3BuiltInRows <= 255);
        BuiltInRowsById out;
        const std::vector<CID3v2Field>& rows = CID3v2Tag::BuiltInRows();
        size_t filled = 0;
        for (size_t i = 0; i < kID3BuiltInRows; ++i) {
            const uint32_t key = IdKey(rows[i].frameId);
            size_t s = Hash(key);
            while (out.slots[s].key && out.slots[s].key != key) s = (s + 1) & kMask;
            if (out.slots[s].key) continue;  // this ID's rows are in already
            Slot& slot = out.slots[s];
            slot.key = key;
            slot.first = static_cast<uint8_t>(filled);
            for (size_t j = i; j < kID3BuiltInRows; ++j) {
                if (IdKey(rows[j].frameId) != key) continue;
                out.rows[filled++] = static_cast<uint8_t>(j);
                ++slot.count;
                if (slot.named < 0 && rows[j].description.empty()) slot.named = static_cast<int16_t>(j);
            }
        }
        return out;
    }();
    return table;
}

CID3v2Tag::CID3v2Tag(IKwTools* tools) : tools_(tools), builtIn_(BuiltInRows().data()) {}

CID3v2Tag::~CID3v2Tag() = default;

void CID3v2Tag::Reset() {
    valid_ = false;
    rawLength_ = 0;
    std::memset(header_, 0, sizeof(header_));
    tagSize_ = 0;
    frames_.clear();
    FramesChanged();
}

bool CID3v2Tag::Parse(const uint8_t* bytes, size_t size) {
    Reset();
    if (!bytes) size = 0;
    // Only the block's length is kept: the frames take copies of their bytes.
    rawLength_ = size;
    if (size < 10) return false;
    std::memcpy(header_, bytes, 10);
    const uint8_t version = header_[3];
    const uint8_t flags = header_[5];
    if (std::memcmp(header_, "ID3", 3) != 0 || version < 2 || version > 4 || (flags & kTagExperimental)) {
        std::memset(header_, 0, sizeof(header_));
        return false;
    }
    tagSize_ = ID3v2ReadSynchsafe(header_ + 6);
    const uint64_t needed = uint64_t{tagSize_} + ((flags & kTagFooter) ? 20 : 10) - 1;
    if (size < needed) {
        std::memset(header_, 0, sizeof(header_));
        tagSize_ = 0;
        return false;
    }
    size_t start = 10;
    if (flags & kTagExtendedHeader) {
        // The 2.4 extended-header size counts itself and is synchsafe; the 2.3
        // size is a plain number that does not count its own four bytes.
        if (size < 14)
            start = 10;
        else if (version == 3)
            start = 14 + static_cast<size_t>(ID3v2ReadBigEndian(bytes + 10));
        else
            start = 10 + static_cast<size_t>(ID3v2ReadSynchsafe(bytes + 10));
    }
    const size_t readable = (flags & kTagFooter) ? (size >= 10 ? size - 10 : 0) : size;
    valid_ = ReadFrames(bytes, start, readable);
    return valid_;
}

bool CID3v2Tag::ReadFrames(const uint8_t* raw, size_t start, size_t readable) {
    const uint8_t version = header_[3];
    const bool v22 = version == 2;
    const size_t headerLength = v22 ? 6 : 10;
    const size_t idLength = v22 ? 3 : 4;
    size_t pos = start;
    frames_.reserve(32);  // most tags hold fewer frames
    while (pos <= readable && readable - pos >= headerLength) {
        const uint8_t* h = raw + pos;
        if (h[0] == 0 || !ValidId(h, idLength)) break;
        uint64_t size;
        // Built in place; taken off again when the frame turns out unreadable.
        CID3v2Frame& frame = frames_.emplace_back();
        if (v22) {
            const char* mapped = MapId22(h);
            if (mapped) {
                std::memcpy(frame.id, mapped, 4);
            } else {
                std::memcpy(frame.id, h, 3);
                frame.id[3] = '?';
            }
            size = (uint64_t{h[3]} << 16) | (uint64_t{h[4]} << 8) | h[5];
            frame.SetSizeField(static_cast<uint32_t>(size), false);
        } else {
            std::memcpy(frame.id, h, 4);
            std::memcpy(frame.sizeField, h + 4, 4);
            frame.flags = static_cast<uint16_t>(h[8] | (h[9] << 8));
            const bool plain = version == 3 || ((h[4] | h[5] | h[6] | h[7]) & 0x80);
            size = plain ? ID3v2ReadBigEndian(h + 4) : ID3v2ReadSynchsafe(h + 4);
            if (size > INT32_MAX) {  // a negative size
                frames_.pop_back();
                break;
            }
        }
        const size_t dataStart = pos + headerLength;
        if (size > readable - dataStart) {
            frames_.pop_back();
            break;
        }
        size_t next = dataStart + static_cast<size_t>(size);
        if (!(header_[5] & kTagUnsync)) {
            frame.data.assign(raw + dataStart, raw + next);
        } else {
            const bool sizeIsStored = next + headerLength > readable || raw[next] == 0 ||
                                      ValidId(raw + next, idLength);
            if (sizeIsStored) {
                frame.data = ID3v2Deunsynchronise(raw + dataStart, static_cast<size_t>(size));
            } else {
                // The size counts the bytes after de-unsynchronisation.
                size_t i = dataStart;
                while (frame.data.size() < size && i < readable) {
                    frame.data.push_back(raw[i]);
                    if (raw[i] == 0xFF && i + 1 < readable && raw[i + 1] == 0) ++i;
                    ++i;
                }
                if (frame.data.size() < size) {  // cut in the middle
                    frames_.pop_back();
                    break;
                }
                next = i;
            }
            frame.flags &= static_cast<uint16_t>(~kID3FrameUnsync);
            frame.SetSizeField(static_cast<uint32_t>(frame.data.size()), version == 4);
        }
        if (v22 && std::memcmp(h, "PIC", 3) == 0)
            RebuildPicture22(frame);
        else
            frame.DecodeFields(tools_, version);
        pos = next;
    }
    FramesChanged();
    return true;
}

// A version 2.2 picture (encoding, three-letter image format, type,
// description, image) is rebuilt in the APIC layout.
void CID3v2Tag::RebuildPicture22(CID3v2Frame& frame) {
    const std::vector<uint8_t>& d = frame.data;
    size_t pos = 0;
    const uint8_t encoding = d.empty() ? 0 : d[pos++];
    std::string format;
    for (int i = 0; i < 3 && pos < d.size(); ++i) format.push_back(static_cast<char>(std::tolower(d[pos++])));
    const uint8_t type = pos < d.size() ? d[pos++] : 3;
    ID3v2ReadText(d.data(), pos, d.size(), encoding);  // the description is replaced
    pos = std::min(pos, d.size());
    const std::string mime = "image/" + (format == "jpg" ? std::string("jpeg") : format);
    std::vector<uint8_t> rebuilt{0};
    rebuilt.insert(rebuilt.end(), mime.begin(), mime.end());
    rebuilt.push_back(0);
    rebuilt.push_back(type);
    static const char kPicture[] = "Picture";
    rebuilt.insert(rebuilt.end(), kPicture, kPicture + sizeof(kPicture));  // with its zero
    rebuilt.insert(rebuilt.end(), d.begin() + static_cast<std::ptrdiff_t>(pos), d.end());
    frame.data.swap(rebuilt);
    frame.SetSizeField(static_cast<uint32_t>(frame.data.size()), false);
    frame.DecodeFields(tools_, 2);
}

const std::array<int32_t, kID3BuiltInRows>& CID3v2Tag::BuiltInMatches() const {
    if (builtInMatchesValid_) return builtInMatches_;
    builtInMatches_.fill(-1);
    namesPresent_ = {};
    const BuiltInRowsById& byId = BuiltInRowsById::Get();
    for (size_t f = 0; f < frames_.size(); ++f) {
        const BuiltInRowsById::Slot* slot = byId.Find(IdKey(frames_[f].id));
        if (!slot) continue;
        for (size_t k = slot->first; k < slot->first + slot->count; ++k) {
            const size_t r = byId.rows[k];
            if (builtInMatches_[r] < 0 && FrameMatches(builtIn_[r], frames_[f])) {
                builtInMatches_[r] = static_cast<int32_t>(f);
                if (builtIn_[r].flags) {  // a row without flags is never read
                    const size_t name = BuiltInNameOfRow(r);
                    namesPresent_[name / 64] |= uint64_t{1} << (name % 64);
                }
            }
        }
    }
    builtInMatchesValid_ = true;
    return builtInMatches_;
}

bool CID3v2Tag::MatchRows(const RowList& rows, Match& match) const {
    // A row without flags is never read.
    if (rows.builtIn) {
        // Built-in rows come first and have their frames found already.
        const std::array<int32_t, kID3BuiltInRows>& matches = BuiltInMatches();
        for (const size_t position : *rows.builtIn) {
            const int32_t f = matches[position];
            if (f < 0 || !builtIn_[position].flags) continue;
            match = {&builtIn_[position], static_cast<size_t>(f)};
            return true;
        }
    }
    if (!rows.added) return false;
    for (const size_t position : *rows.added) {
        const CID3v2Field& row = Row(position);
        if (!row.flags) continue;
        for (size_t f = 0; f < frames_.size(); ++f) {
            const CID3v2Frame& frame = frames_[f];
            if (std::memcmp(frame.id, row.frameId, 4) == 0 && FrameMatches(row, frame)) {
                match = {&row, f};
                return true;
            }
        }
    }
    return false;
}

bool CID3v2Tag::FindForReading(KwStringView name, Match& match) {
    if (KnownAbsent(name)) return false;
    RowList rows = RowsOf(name);
    if (!rows.builtInFlags && !AnyRow(rows, kFieldAllRows)) {
        // A name without rows gets its TXXX and COMM rows first.
        if (!CreateRows(name)) return false;
        return MatchRows(RowsOf(name), match);
    }
    if (MatchRows(rows, match)) return true;
    // A field with no row writable in this version is written to a TXXX frame
    // described by its name (the row the store adds); find it there too, or a
    // value written by this tag could not be read back once the file is
    // reopened. Reading does not add that row: the table stays as it is.
    if (AnyRow(rows, MajorVersion() >= 4 ? kFieldWrite24 : kFieldWrite23) || KwEqualsNoCase(name, kYearName))
        return false;
    static const CID3v2Field kUserTextRow = [] {
        CID3v2Field row;
        std::memcpy(row.frameId, "TXXX", 4);
        row.flags = kFieldWrite23 | kFieldWrite24;
        return row;
    }();
    for (size_t f = 0; f < frames_.size(); ++f)
        if (std::memcmp(frames_[f].id, "TXXX", 4) == 0 && KwEqualsNoCase(frames_[f].description, name)) {
            match = {&kUserTextRow, f};
            return true;
        }
    return false;
}

bool CID3v2Tag::LookupField(KwStringView name, KwPropertyMap& result) {
    Match match{};
    if (!FindForReading(name, match)) {
        result.Clear();
        return false;
    }
    frames_[match.frame].Fields(result);
    KwString value = result.GetString(KW_T("Value"));
    KwString original;
    AdjustValue(*match.row, value, &original);
    if (match.row->flags & kFieldNumberTotal) result.SetString(KW_T("Value Original"), original);
    result.SetString(KW_T("Value"), value);
    return true;
}

bool CID3v2Tag::Adjusts(const CID3v2Field& row) {
    constexpr uint32_t kAdjusting =
        kFieldNumberTotal | kFieldGenre | kFieldReplayGain | kFieldReplayPeak | kFieldDate | kFieldUitsPayload;
    return (row.flags & kAdjusting) || (row.FrameId() == "TXXX" && row.name == kDateName);
}

void CID3v2Tag::AdjustValue(const CID3v2Field& row, KwString& value, KwString* original) {
    if (row.flags & kFieldNumberTotal) {
        if (original) *original = value;
        value = value.substr(0, value.find(KW_T('/')));
    }
    if (row.flags & kFieldGenre) {
        if (value == KW_T("-1")) {
            value.clear();
        } else if (!value.empty() && value[0] == KW_T('(')) {
            std::erase_if(value, [](KwChar c) { return c == KW_T('(') || c == KW_T(')'); });
            // A genre number needs at least one digit ("(RX)" stays "RX").
            if (!value.empty() && value[0] >= KW_T('0') && value[0] <= KW_T('9')) {
                if (const char* genre = ID3v2GenreName(KwParseInt32(value))) value = Ascii(genre);
            }
        }
    }
    if (row.flags & kFieldReplayPeak) ReplaceAll(value, KW_T("replaygain_track_peak"), KW_T(""));
    if ((row.flags & kFieldReplayGain) && !value.empty()) {
        ReplaceAll(value, KW_T("replaygain_track_gain"), KW_T(""));
        ReplaceAll(value, KW_T("db"), KW_T(""), true);
        value = KwFormatDoubleFixed(KwParseDouble(value), 6);
    }
    const bool dateRow = (row.flags & kFieldDate) || (row.FrameId() == "TXXX" && row.description == kDateName &&
                                                      row.name == kDateName);
    if (dateRow && !value.empty() && tools_) {
        if (IKwDateServices* dates = tools_->GetDateServices(true)) {
            const double number = dates->ParseDate(value.c_str(), 0);
            value = number != 0.0 ? KwFormatDouble(number) : KwString();
        }
    }
    if (row.flags & kFieldUitsPayload) {
        std::vector<uint8_t> bytes;
        value = KwBase64Decode(value, bytes) ? BytesAsText(bytes) : KwString();
    }
}

KwString CID3v2Tag::ImageFileValue(const CID3v2Frame& frame) {
    const KwString& mime = frame.mime;
    auto has = [&](const KwChar* word) { return mime.find(word) != KwString::npos; };
    const KwChar* extension = has(KW_T("bmp"))    ? KW_T("bmp")
                              : has(KW_T("gif"))  ? KW_T("gif")
                              : has(KW_T("png"))  ? KW_T("png")
                              : has(KW_T("tiff")) ? KW_T("tif")
                                                  : KW_T("jpg");
    // The frame's fields are made from its bytes only, so the kept image is
    // exactly what the "Value" text decodes to.
    const std::vector<uint8_t>& image = frame.image;
    if (image.empty()) return {};
    // One file per thread: threads reading pictures at the same time never
    // write the same file, as their identifiers differ.
    KwString path = ID3v2TempFolder();
    path += KW_T("MP3 Image - ");
    path += KwFormatInt64(KwGetCurrentThreadId());
    path += KW_T('.');
    path += extension;
    return ID3v2WriteFile(path, image) ? path : KwString();
}

bool CID3v2Tag::GetField(KwStringView name, IKwDllString* result, bool* found) {
    if (found) *found = false;
    Match match{};
    const bool present = FindForReading(name, match);
    // Most names a host asks for are not in the tag: answered before anything else.
    if (!present && name != kImageFileName) return false;
    KwString value;
    if (name == kImageFileName) {
        // Found even without a picture; the value is then empty. The picture
        // rows change nothing in the value, so the frame's own fields serve.
        if (present) value = ImageFileValue(frames_[match.frame]);
    } else {
        const CID3v2Frame& frame = frames_[match.frame];
        if (!Adjusts(*match.row) && frame.Kind() != ID3v2FrameKind::kPicture) {
            // Most fields are delivered as stored (empty for frames without a
            // value): no copy.
            if (result) result->SetText(frame.value.c_str(), static_cast<int32_t>(frame.value.size()));
            if (found) *found = true;
            return true;
        }
        if (frame.HasValue()) value = frame.Value();
        AdjustValue(*match.row, value, nullptr);
    }
    if (result) result->SetText(value.c_str(), static_cast<int32_t>(value.size()));
    if (found) *found = true;
    return true;
}

KwString CID3v2Tag::Translate(const KwChar* text) {
    KwDllString s{KwString(text)};
    if (tools_)
        if (IKwTranslator* translator = tools_->GetTranslator(true)) translator->Translate(&s);
    return std::move(s.Text());
}

KwString CID3v2Tag::FrameDisplayText(size_t position) {
    KwString line;
    AppendFrameDisplayText(position, line);
    return line;
}

void CID3v2Tag::AppendFrameDisplayText(size_t position, KwString& out) {
    if (position >= frames_.size()) {
        out += KW_T("<invalid frame>");
        return;
    }
    // Built from views into the frame and the table: the summary asks for
    // every frame of every file read.
    const CID3v2Frame& frame = frames_[position];
    KwStringView name = frame.description;
    if (name.empty()) {
        // The first row of the frame's ID without a description names it.
        const BuiltInRowsById::Slot* slot = BuiltInRowsById::Get().Find(IdKey(frame.id));
        if (slot && slot->named >= 0) {
            name = Row(static_cast<size_t>(slot->named)).name;
        } else {
            for (size_t i = kID3BuiltInRows; i < RowCount(); ++i)
                if (const CID3v2Field& row = Row(i);
                    std::memcmp(row.frameId, frame.id, 4) == 0 && row.description.empty()) {
                    name = row.name;
                    break;
                }
        }
    }
    if (name.starts_with(kQuillboxPrefix)) name.remove_prefix(kQuillboxPrefix.size());
    const bool cut = name.size() >= 21;
    if (cut) name = name.substr(0, 18);
    KwString label;
    if (frame.pictureType >= 0)
        label = frame.pictureType == 3 ? Translate(KW_T("Cover")) : KwFormatInt32(frame.pictureType);
    KwString made;  // a value that is not the frame's own text
    KwStringView value;
    if (frame.HasValue()) {
        // A picture's Base64 text is never made just to be found too long.
        if (frame.ValueLength() >= 129)
            value = made = Translate(KW_T("<too large to display>"));
        else if (frame.Kind() == ID3v2FrameKind::kPicture)
            value = made = frame.Value();
        else
            value = frame.value;
    } else {
        value = made = Translate(KW_T("<unknown data type>"));
    }
    if (value.find(KW_T('\n')) != KwStringView::npos) {
        if (value.data() != made.data()) made = KwString(value);
        ReplaceAll(made, KW_T("\r\n"), KW_T("\\n"));
        ReplaceAll(made, KW_T("\n"), KW_T("\\n"));
        value = made;
    }
    constexpr KwStringView kOpen = KW_T(" ("), kCut = KW_T(".."), kColon = KW_T(": ");
    out.reserve(out.size() + 4 + name.size() + 5 + label.size() + 5 + value.size());
    out.append(frame.id, frame.id + 4);
    if (!name.empty()) {
        out += kOpen;
        out += name;
        if (cut) out += kCut;
        out += KW_T(')');
    }
    if (!label.empty()) {
        out += kOpen;
        out += label;
        out += KW_T(')');
    }
    out += kColon;
    out += value;
}

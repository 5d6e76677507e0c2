// Storing fields into an ID3v2 tag, ordering its frames and rendering it.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "support/KwNumbers.h"
#include "tags/CID3v2Tag.h"
#include "tags/ID3v2Files.h"
#include "tags/ID3v2Text.h"

namespace {

// Largest image file an APIC frame takes (the tag size field has 28 bits).
constexpr size_t kMaxImageBytes = size_t{64} << 20;
constexpr uint32_t kMaxTagSize = (1u << 28) - 1;

// Days of the host's date numbers (0 is 30 December 1899) -> (month, day).
void MonthDay(int64_t days, unsigned& month, unsigned& day) {
    int64_t z = days - 25569 + 719468;  // days since 1970-01-01, shifted to 0000-03-01
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
}

// A date number that stands for 1 January at midnight carries only a year,
// which a version 2.3 tag keeps elsewhere.
bool IsBareNewYear(double d) {
    constexpr double kCentisecond = 1.1574074074074073e-7;
    constexpr double kSecond = 1.1574074074074073e-5;
    constexpr double kTenth = 1.1574074074074074e-6;
    constexpr double kFifth = 2.3148148148148148e-6;
    if (!std::isfinite(d) || std::fabs(d) > 3e6) return false;
    double days = std::floor(d);
    double t = d - days;
    if (t < kCentisecond) {
        t = 0;
    } else if (1.0 - t < kCentisecond) {
        t = 0;
        days += 1;
    }
    unsigned month = 0, day = 0;
    MonthDay(static_cast<int64_t>(days), month, day);
    if (month != 1 || day != 1) return false;
    return t == 0 || (t <= kSecond && std::fabs(t - kTenth) > kCentisecond && std::fabs(t - kFifth) > kCentisecond);
}

KwString WithFullStop(KwString s) {
    std::replace(s.begin(), s.end(), KW_T(','), KW_T('.'));
    return s;
}

std::vector<KwString> Pieces(KwStringView value, bool list) {
    std::vector<KwString> out;
    if (!list) {
        out.emplace_back(value);
        return out;
    }
    size_t start = 0;
    for (;;) {
        const size_t semicolon = value.find(KW_T(';'), start);
        out.emplace_back(value.substr(start, semicolon == KwStringView::npos ? KwStringView::npos : semicolon - start));
        if (semicolon == KwStringView::npos) break;
        start = semicolon + 1;
    }
    return out;
}

int FrameClass(const CID3v2Frame& f) {
    const ID3v2FrameKind kind = f.Kind();
    if (kind == ID3v2FrameKind::kOther) return 40000;
    if (f.Id() == "COMM") return 20000;
    if (f.Id() == "TXXX") return 30000;
    return 10000;
}

bool Writable(const CID3v2Frame& f) {
    return std::none_of(f.id, f.id + 4, [](char c) { return c == '?'; });
}

}  // namespace

bool CID3v2Tag::BuildFrame(const CID3v2Field& row, KwStringView value, const KwString& original,
                           CID3v2Frame& frame) {
    std::memcpy(frame.id, row.frameId, 4);
    frame.flags = 0;
    std::vector<uint8_t>& d = frame.data;
    d.clear();
    const std::string_view id = row.FrameId();
    KwString text(value);
    if (row.flags & kFieldNumberTotal) {
        const size_t slash = original.find(KW_T('/'));
        if (slash != KwString::npos)
            text = KwString(value) + KW_T("/") + KwFormatInt32(KwParseInt32(KwStringView(original).substr(slash + 1)));
    }
    if (row.flags & kFieldReplayGain) {
        const double gain = KwParseDouble(value);
        text = (gain > 0 ? KW_T("+") : KW_T("")) + WithFullStop(KwFormatDoubleFixed(gain, 2)) + KW_T(" dB");
    }
    if (row.flags & kFieldReplayPeak) text = WithFullStop(KwFormatDoubleFixed(KwParseDouble(value), 6));

    if (id == "APIC") {
        std::vector<uint8_t> image;
        if (!ID3v2ReadFile(KwString(value), image, kMaxImageBytes)) return false;
        const size_t dot = value.find_last_of(KW_T('.'));
        std::string extension;
        if (dot != KwStringView::npos)
            for (KwChar c : value.substr(dot + 1)) extension.push_back(static_cast<char>(std::tolower(c & 0x7F)));
        if (extension == "jpg") extension = "jpeg";
        const std::string mime = "image/" + extension;
        d.push_back(0);
        d.insert(d.end(), mime.begin(), mime.end());
        d.push_back(0);
        d.push_back(static_cast<uint8_t>(row.pictureType >= 0 ? row.pictureType : 3));
        static const char kPicture[] = "Picture";
        d.insert(d.end(), kPicture, kPicture + sizeof(kPicture));
        d.insert(d.end(), image.begin(), image.end());
    } else if (id == "POPM") {
        static const uint8_t kRatingByte[] = {0, 1, 64, 128, 196, 255};
        d.push_back(0);  // no owner
        d.push_back(kRatingByte[std::clamp(KwParseInt32(value), 0, 5)]);
    } else if (id == "PCST") {
        const auto flag = static_cast<uint32_t>(KwParseInt32(value));
        for (int i = 0; i < 4; ++i) d.push_back(static_cast<uint8_t>(flag >> (8 * i)));
    } else if (id == "PRIV") {
        d.insert(d.end(), row.description.begin(), row.description.end());  // owner, ASCII
        d.push_back(0);
        const std::string payload = KwToUtf8(text);
        d.insert(d.end(), payload.begin(), payload.end());
    } else if (id[0] == 'W') {
        for (KwChar c : text) d.push_back(static_cast<uint16_t>(c) < 256 ? static_cast<uint8_t>(c) : '?');
    } else {
        const bool described = id == "TXXX" || id == "COMM" || id == "USLT";
        // The description shares the frame's encoding, so it takes part in the choice.
        const uint8_t encoding = std::max(ID3v2ChooseEncoding(text),
                                          described ? ID3v2ChooseEncoding(row.description) : kID3Latin1);
        d.push_back(encoding);
        if (id == "COMM" || id == "USLT") d.insert(d.end(), 3, 0);
        if (described) ID3v2AppendText(d, row.description, encoding);
        for (const KwString& piece : Pieces(text, row.flags & kFieldList)) ID3v2AppendText(d, piece, encoding);
    }
    if (d.size() > kMaxTagSize) return false;
    frame.SetSizeField(static_cast<uint32_t>(d.size()), MajorVersion() >= 4);
    frame.DecodeFields(tools_, MajorVersion());
    return true;
}

bool CID3v2Tag::StoreField(KwStringView name, KwStringView inputValue) {
    KwString value(inputValue);
    // A picture field names an image file; one that cannot be read changes
    // nothing, so the pictures already in the tag are kept.
    if (!value.empty()) {
        size_t cursor = 0;
        std::vector<uint8_t> probe;
        while (const CID3v2Field* row = NextRow(name, cursor, false, kFieldWrite23 | kFieldWrite24))
            if (row->FrameId() == "APIC" && !ID3v2ReadFile(value, probe, kMaxImageBytes)) return false;
    }
    {
        // A field with rows but none writable in this version is written to
        // the TXXX row added for it; added first, so that a frame written
        // there before is replaced rather than joined by a second one.
        const RowList rows = RowsOf(name);
        if (AnyRow(rows, kFieldAllRows) && !AnyRow(rows, MajorVersion() >= 4 ? kFieldWrite24 : kFieldWrite23))
            CreateRows(name);
    }
    KwPropertyMap current;
    const KwString original = LookupField(name, current) ? current.GetString(KW_T("Value Original")) : KwString();
    bool changed = false;

    std::vector<size_t> doomed;
    for (const Match& m : FindFrames(name, true))
        if (!(m.row->flags & kFieldAnyPicture)) doomed.push_back(m.frame);
    std::sort(doomed.begin(), doomed.end());
    doomed.erase(std::unique(doomed.begin(), doomed.end()), doomed.end());
    for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) {
        frames_.erase(frames_.begin() + static_cast<std::ptrdiff_t>(*it));
        FramesChanged();
        changed = true;
    }

    if (name == KW_T("Date") && MajorVersion() < 4 && !value.empty() && IsBareNewYear(KwParseDouble(value)))
        value.clear();
    if (name == KW_T("Feed URL"))
        changed |= StoreField(KW_T("iTunes Podcast Flag"), value.empty() ? KW_T("") : KW_T("0"));
    if (!value.empty()) {
        const uint32_t mask = MajorVersion() >= 4 ? kFieldWrite24 : kFieldWrite23;
        size_t cursor = 0;
        while (const CID3v2Field* row = NextRow(name, cursor, true, mask)) {
            CID3v2Frame frame;
            if (!BuildFrame(*row, value, original, frame)) continue;
            frames_.push_back(std::move(frame));
            FramesChanged();
            changed = true;
        }
    }
    changed_ |= changed;
    return changed;
}

int CID3v2Tag::CompareFrames(const CID3v2Frame& a, const CID3v2Frame& b) {
    const int classA = FrameClass(a), classB = FrameClass(b);
    if (classA != classB) return classA < classB ? -1 : 1;
    if ((classA == 20000 || classA == 30000)) {
        const KwString& da = a.description;
        const KwString& db = b.description;
        int c = 0;
        IKwTextServices* text = tools_ ? tools_->GetTextServices(true) : nullptr;
        if (text) {
            c = text->Compare(da.c_str(), db.c_str(), 513, true);
        } else {
            for (size_t i = 0; c == 0 && i < std::min(da.size(), db.size()); ++i)
                c = int{KwFoldCase(da[i])} - int{KwFoldCase(db[i])};
            if (c == 0) c = da.size() < db.size() ? -1 : da.size() > db.size() ? 1 : 0;
        }
        if (c != 0) return c < 0 ? -1 : 1;
    }
    if (classA == 40000) {
        const int c = std::memcmp(a.id, b.id, 4);
        if (c != 0) return c < 0 ? -1 : 1;
    }
    const int pa = RowPositionOf(a), pb = RowPositionOf(b);
    return pa < pb ? -1 : pa > pb ? 1 : 0;
}

void CID3v2Tag::StorePodcastFields() {
    KwPropertyMap fields;
    const KwString feed = LookupField(KW_T("Feed URL"), fields) ? fields.GetString(KW_T("Value")) : KwString();
    auto valueOf = [&](const KwChar* name) {
        KwPropertyMap f;
        return LookupField(name, f) ? f.GetString(KW_T("Value")) : KwString();
    };
    const bool podcast = !feed.empty();
    const KwString description = podcast ? valueOf(KW_T("Comment")) : KwString();
    const KwString episode = podcast ? valueOf(KW_T("Episode URL")) : KwString();
    StoreField(KW_T("!@#$% iTunes Podcast Description !@#$%"), description);
    StoreField(KW_T("!@#$% iTunes Podcast Feed URL !@#$%"), feed);
    StoreField(KW_T("!@#$% iTunes Podcast Episode URL !@#$%"), episode);
    StoreField(KW_T("!@#$% iTunes Podcast Flag !@#$%"), podcast ? KW_T("0") : KW_T(""));
    if (podcast) StoreField(KW_T("!@#$% iTunes Podcast Date !@#$%"), valueOf(KW_T("Date")));
}

bool CID3v2Tag::Render(std::vector<uint8_t>& out) {
    out.clear();
    StorePodcastFields();
    if (frames_.size() >= 2)
        std::stable_sort(frames_.begin(), frames_.end(),
                         [this](const auto& a, const auto& b) { return CompareFrames(a, b) < 0; });
    FramesChanged();
    const uint8_t version = valid_ && MajorVersion() >= 3 ? MajorVersion() : 3;
    std::vector<uint8_t> body;
    for (const auto& frame : frames_) {
        // Frames read from a version 2.2 tag under an ID that has no 2.3 form
        // cannot be written.
        if (!Writable(frame)) continue;
        if (frame.data.size() > kMaxTagSize) return false;
        uint8_t header[10];
        std::memcpy(header, frame.id, 4);
        if (version == 4)
            ID3v2WriteSynchsafe(header + 4, static_cast<uint32_t>(frame.data.size()));
        else
            ID3v2WriteBigEndian(header + 4, static_cast<uint32_t>(frame.data.size()));
        header[8] = static_cast<uint8_t>(frame.flags & 0xFF);
        header[9] = static_cast<uint8_t>(frame.flags >> 8);
        body.insert(body.end(), header, header + 10);
        body.insert(body.end(), frame.data.begin(), frame.data.end());
        if (body.size() > kMaxTagSize) return false;
    }
    size_t total = 10 + body.size();
    if (valid_ && total <= rawLength_)
        total = rawLength_;
    else
        total = (total / 4096 + 1) * 4096;
    if (total - 10 > kMaxTagSize) return false;
    out.reserve(total);
    const uint8_t header[6] = {'I', 'D', '3', version, 0, 0};
    out.insert(out.end(), header, header + 6);
    out.resize(10);
    ID3v2WriteSynchsafe(out.data() + 6, static_cast<uint32_t>(total - 10));
    out.insert(out.end(), body.begin(), body.end());
    out.resize(total, 0);
    return true;
}

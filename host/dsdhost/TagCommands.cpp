#include "host/dsdhost/TagCommands.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>

#include "host/dsdhost/OrderedJobs.h"
#include "support/KwDllString.h"
#include "tags/CID3v2Tag.h"

namespace {

const char* const kProperties[] = {"Bitrate",     "Duration",    "Channels",
                                   "Sample Rate", "Bit Depth",   "Compression",
                                   "UITS Media Hash Byte Range", "Support Tag Writing"};

std::string Get(IKwAudioFileInfo* info, const KwString& name, bool* found = nullptr) {
    KwDllString out;
    const bool ok = info->GetProperty(name.c_str(), &out);
    if (found) *found = ok;
    return ok ? KwToUtf8(out.Text()) : std::string();
}


// The summary's lines end in "\r\n"; the listing's in "\n". The text from
// `start` on is moved up a line at a time rather than a character at a time.
void DropCarriageReturns(std::string& text, size_t start) {
    char* const begin = text.data() + start;
    const char* const end = text.data() + text.size();
    char* to = begin;
    const char* from = begin;
    while (from < end) {
        const void* found = std::memchr(from, '\r', static_cast<size_t>(end - from));
        const char* stop = found ? static_cast<const char*>(found) : end;
        if (to != from) std::memmove(to, from, static_cast<size_t>(stop - from));
        to += stop - from;
        from = found ? stop + 1 : end;
    }
    text.resize(static_cast<size_t>(to - text.data()));
}

// Appends the summary with "\n" line ends. `out` receives the plug-in's text;
// the listing reuses it for the field answers, which then need no new buffer.
void AppendSummary(IKwAudioFileInfo* info, KwDllString& out, std::string& text) {
    info->GetTagSummary(&out);
    const size_t from = text.size();
    KwAppendUtf8(text, out.Text());
    DropCarriageReturns(text, from);
}

// The field names of the plug-in's tag vocabulary, each once, in table order.
struct FieldName {
    std::string text;
    KwString wide;
};

const std::vector<FieldName>& FieldNames() {
    static const std::vector<FieldName> names = [] {
        CID3v2Tag table;
        std::vector<FieldName> out;
        std::set<std::string> seen;
        for (size_t i = 0; i < table.RowCount(); ++i) {
            std::string name = KwToUtf8(table.Row(i).name);
            if (seen.insert(name).second) out.push_back({name, table.Row(i).name});
        }
        return out;
    }();
    return names;
}

// "FIELD=VALUE" split at the first "=".
bool SplitAssignment(const std::string& text, std::string& field, std::string& value) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    field = text.substr(0, eq);
    value = text.substr(eq + 1);
    return true;
}

std::string Ask(IKwAudioInput* source, int32_t code) {
    KwDllString text;
    return source->GetInfo(code, &text) == 0 ? KwToUtf8(text.Text()) : std::string();
}

}  // namespace

int TagCommands::Run(const PluginLibrary& plugin, IKwHost* host) {
    const TagRequest& r = request_;
    const bool edit = !r.json && (!r.sets.empty() || !r.images.empty() || r.remove);
    if (edit && r.files.size() != 1) {
        fprintf(stderr, "dsdhost: tags edits one file at a time\n");
        return 1;
    }
    if (!r.json && !edit) return ListAll(plugin, host);
    const std::string& path = r.files.front();
    KwPtr<IKwAudioFileInfo> info;
    std::string error;
    if (!OpenFile(plugin, host, path, info, error)) {
        fputs(error.c_str(), stderr);
        return 1;
    }
    return r.json ? Json(plugin, host, info.get(), path) : Edit(info.get(), path);
}

bool TagCommands::OpenFile(const PluginLibrary& plugin, IKwHost* host, const std::string& path,
                           KwPtr<IKwAudioFileInfo>& info, std::string& error) {
    info.reset(plugin.NewFileInfo(host));
    if (!info) {
        error = "dsdhost: the plug-in gave no file-information object\n";
        return false;
    }
    if (!info->Open(HostFileName(path).c_str())) {
        error = "dsdhost: cannot open " + path + " (not a DSD file the plug-in reads, or unreadable)\n";
        return false;
    }
    return true;
}

int TagCommands::ListAll(const PluginLibrary& plugin, IKwHost* host) {
    // Files are read on several threads, as a host cataloguing a library
    // would, and listed in the order given.
    struct Listing {
        std::string out, error;
    };
    const std::vector<std::string>& files = request_.files;
    const bool headed = files.size() > 1;
    int status = 0;
    RunInOrder<Listing>(
        files.size(), request_.jobs,
        [&](size_t i) {
            Listing listing;
            KwPtr<IKwAudioFileInfo> info;
            if (!OpenFile(plugin, host, files[i], info, listing.error)) return listing;
            listing.out.reserve(2048);  // room for a typical listing
            if (headed) {
                listing.out += "-- ";
                listing.out += files[i];
                listing.out += '\n';
            }
            ListText(info.get(), listing.out);
            return listing;
        },
        [&](Listing& listing) {
            if (!listing.error.empty()) {
                fflush(stdout);  // the reason after the listings before it
                fputs(listing.error.c_str(), stderr);
                status = 1;
            }
            fwrite(listing.out.data(), 1, listing.out.size(), stdout);
        });
    return status;
}

void TagCommands::ListText(IKwAudioFileInfo* info, std::string& out) {
    // Every answer lands in the same text object and goes straight into the
    // listing: a catalogue run asks for every field of every file, and
    // formatted printing or a copy per answer costs more than reading the field.
    KwDllString answer;
    AppendSummary(info, answer, out);
    out += '\n';
    auto line = [&](const FieldName& name) {
        answer.Clear();
        if (!info->GetProperty(name.wide.c_str(), &answer) || answer.Text().empty()) return;
        out += name.text;
        out += ": ";
        KwAppendUtf8(out, answer.Text());
        out += '\n';
    };
    const FieldName* image = nullptr;
    for (const FieldName& name : FieldNames()) {
        if (name.text == "Image File")
            image = &name;  // asked last: the answer writes the picture to a file
        else
            line(name);
    }
    if (image) line(*image);
}

int TagCommands::Edit(IKwAudioFileInfo* info, const std::string& file) {
    const char* path = file.c_str();
    if (Get(info, KW_T("Support Tag Writing")) != "1") {
        fprintf(stderr, "dsdhost: %s has no ID3v2 tag that the plug-in can write (only DSF files have one)\n", path);
        return 1;
    }
    if (request_.remove) {
        if (info->RemoveTag(0) != 0) {
            fprintf(stderr, "dsdhost: the tag of %s could not be removed\n", path);
            return 1;
        }
        return info->Close() ? 0 : 1;
    }
    std::vector<std::pair<std::string, std::string>> edits;
    for (const std::string& text : request_.sets) {
        std::string field, value;
        if (!SplitAssignment(text, field, value)) {
            fprintf(stderr, "dsdhost: --set needs FIELD=VALUE, not \"%s\"\n", text.c_str());
            return 1;
        }
        edits.emplace_back(field, value);
    }
    for (const std::string& text : request_.images) {
        std::string field, image;
        if (!SplitAssignment(text, field, image)) {
            fprintf(stderr, "dsdhost: --image needs FIELD=PATH, not \"%s\"\n", text.c_str());
            return 1;
        }
        std::ifstream probe(image, std::ios::binary);
        if (!probe || probe.peek() == std::char_traits<char>::eof()) {
            fprintf(stderr, "dsdhost: field \"%s\": the image %s cannot be read or is empty\n", field.c_str(),
                    image.c_str());
            return 1;
        }
        edits.emplace_back(field, image);
    }
    std::string fields;
    for (const auto& [field, value] : edits) {
        info->SetProperty(KwFromUtf8(field).c_str(), KwFromUtf8(value).c_str());
        fields += (fields.empty() ? "" : ", ") + ("\"" + field + "\"");
    }
    if (!info->Close()) {
        fprintf(stderr, "dsdhost: writing the tag of %s failed (fields %s); the file was left as it was\n", path,
                fields.c_str());
        return 1;
    }
    return 0;
}

int TagCommands::Json(const PluginLibrary& plugin, IKwHost* host, IKwAudioFileInfo* info, const std::string& path) {
    nlohmann::ordered_json out;
    out["file"] = path;
    for (const char* name : kProperties) {
        bool found = false;
        const std::string value = Get(info, KwFromUtf8(name), &found);
        if (found) out["properties"][name] = value;
    }
    KwDllString answer;
    std::string summary;
    AppendSummary(info, answer, summary);
    out["summary"] = summary;
    out["tags"] = nlohmann::ordered_json::object();
    for (const FieldName& name : FieldNames()) {
        if (name.text == "Image File") continue;
        bool found = false;
        const std::string value = Get(info, name.wide, &found);
        if (found && !value.empty()) out["tags"][name.text] = value;
    }
    info->Close();

    KwPtr<IKwAudioInput> source(plugin.NewInputSource(host));
    if (source && source->Open(HostFileName(path).c_str()) == 0) {
        const std::pair<const char*, int32_t> facts[] = {
            {"plug-in", 2},  {"sample rate", 8},   {"channels", 9},    {"bits", 10},
            {"bit rate", 0}, {"length", 12},       {"duration ms", 1}, {"from memory", 34}};
        for (const auto& [key, code] : facts) {
            const std::string value = Ask(source.get(), code);
            char* end = nullptr;
            const long long number = std::strtoll(value.c_str(), &end, 10);
            if (!value.empty() && end && *end == '\0' && code != 2)
                out["input"][key] = number;
            else
                out["input"][key] = value;
        }
    } else {
        out["input"] = nullptr;
    }
    printf("%s\n", out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
    return 0;
}

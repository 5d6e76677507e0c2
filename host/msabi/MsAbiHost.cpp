// A minimal media-player host built with the Microsoft C++ ABI (clang for
// x86_64-pc-windows-msvc, linked by lld-link without any C or C++ run-time
// library). It declares the plug-in's interfaces on its own, the way a player
// built with the Microsoft compiler would, with real virtual destructors, and
// drives the plug-in DLL through them:
//
//   msabi_host.exe PLUGIN.dll FILE MODES SEEK_MS OUT.raw [FIELD]
//
// It prints what the input source reports for FILE in the form of
// "dsdhost info" (without its "file:" line), seeks to SEEK_MS when it is not 0,
// writes every byte that Read delivers to OUT.raw, and with FIELD prints
// "FIELD: value" from the file-information object. Exit code 0 on success.
#include <windows.h>
#include <shellapi.h>

extern "C" int _fltused = 0;

// ---- The run-time pieces a program without a C library needs -------------

void* operator new(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size ? size : 1); }
void* operator new[](size_t size) { return HeapAlloc(GetProcessHeap(), 0, size ? size : 1); }
void operator delete(void* p) noexcept {
    if (p) HeapFree(GetProcessHeap(), 0, p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete[](void* p, size_t) noexcept { operator delete(p); }

extern "C" int _purecall() {
    ExitProcess(3);
}

namespace {

// ---- The plug-in's interfaces, in its slot order ---------------------------

class IDllString {
public:
    virtual const wchar_t* GetText() = 0;
    virtual void SetText(const wchar_t* text, int length) = 0;
    virtual void Clear() = 0;
    virtual wchar_t* GetBuffer(int length, bool keepContents) = 0;
    virtual void ReleaseBuffer(int length) = 0;
};

class IReader {
public:
    virtual ~IReader() {}
    virtual int GetState() = 0;
    virtual bool Reserved2() = 0;
    virtual bool Open() = 0;
    virtual void Abort() = 0;
    virtual int Read(void* buffer, int count) = 0;
    virtual int Write(const void* buffer, int count) = 0;
    virtual long long GetSize() = 0;
    virtual long long GetSizeNonNegative() = 0;
    virtual long long GetPosition() = 0;
    virtual long long Seek(long long offset, int origin) = 0;
    virtual bool Truncate() = 0;
    virtual bool Reserved12() = 0;
    virtual void Reserved13() = 0;
    virtual bool HasCapability(int capability) = 0;
    virtual bool IsOpen() = 0;
    virtual void Reserved16() = 0;
    virtual void* Reserved17(void* resultSlot) = 0;
    virtual void SetReserved18(int value) = 0;
    virtual void SetReserved19(long long value, int extra) = 0;
    virtual void SetOptions(const wchar_t* list) = 0;
    virtual void SetOption(const wchar_t* name, const wchar_t* value) = 0;
    virtual wchar_t* GetOption(const wchar_t* name) = 0;
    virtual void SetReserved23(unsigned char value) = 0;
    virtual int Reserved24() = 0;
    virtual bool Reserved25() = 0;
    virtual bool Reserved26() = 0;
    virtual void SetObserver(void* observer) = 0;
    virtual bool Reserved28() = 0;
    virtual bool Reserved29() = 0;
    virtual double Reserved30() = 0;
    virtual int Reserved31() = 0;
};

class IHost {
public:
    virtual IReader* CreateReader(const wchar_t* fileName, int reserved, int openFlags) = 0;
};

class IAudioInput {
public:
    virtual ~IAudioInput() {}
    virtual int Open(const wchar_t* fileName) = 0;
    virtual int GetInfo(int code, IDllString* result) = 0;
    virtual int SetInfo(int code, const wchar_t* value) = 0;
    virtual int DoCommand(int code) = 0;
    virtual int Read(void* destination, int count) = 0;
};

class IAudioFileInfo {
public:
    virtual ~IAudioFileInfo() {}
    virtual bool GetProperty(const wchar_t* name, IDllString* result) = 0;
    virtual bool SetProperty(const wchar_t* name, const wchar_t* value) = 0;
    virtual bool GetTagSummary(IDllString* result) = 0;
    virtual bool Open(const wchar_t* fileName) = 0;
    virtual bool Close() = 0;
    virtual int RemoveTag(int kind) = 0;
};

using GetInputSourceFn = IAudioInput* (*)(IHost*);
using GetFileInfoFn = int (*)(IHost*, IAudioFileInfo**);

// ---- Small text helpers -----------------------------------------------------

int Length(const wchar_t* s) {
    int n = 0;
    while (s && s[n]) ++n;
    return n;
}

void CopyUnits(wchar_t* to, const wchar_t* from, int count) {
    for (int i = 0; i < count; ++i) to[i] = from[i];
}

// Standard output, in UTF-8.
void Print(const char* text) {
    int n = 0;
    while (text[n]) ++n;
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(n), &written, nullptr);
}

void PrintWide(const wchar_t* text) {
    const int units = Length(text);
    if (units == 0) return;
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
    char* utf8 = new char[bytes + 1];
    WideCharToMultiByte(CP_UTF8, 0, text, units, utf8, bytes, nullptr, nullptr);
    utf8[bytes] = 0;
    Print(utf8);
    delete[] utf8;
}

void PrintNumber(long long value, int minDigits = 1) {
    char digits[24];
    int n = 0;
    const bool negative = value < 0;
    unsigned long long v = negative ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v || n < minDigits);
    char out[26];
    int k = 0;
    if (negative) out[k++] = '-';
    while (n) out[k++] = digits[--n];
    out[k] = 0;
    Print(out);
}

long long ParseNumber(const wchar_t* s) {
    long long value = 0;
    bool negative = false;
    while (*s == L' ') ++s;
    if (*s == L'-') negative = true, ++s;
    while (*s >= L'0' && *s <= L'9') value = value * 10 + (*s++ - L'0');
    return negative ? -value : value;
}

// A growable wide text.
class Text {
public:
    ~Text() { delete[] data_; }
    void Append(const wchar_t* s, int n = -1) {
        if (n < 0) n = Length(s);
        if (length_ + n + 1 > capacity_) {
            capacity_ = (length_ + n + 1) * 2;
            wchar_t* grown = new wchar_t[capacity_];
            CopyUnits(grown, data_ ? data_ : L"", length_);
            delete[] data_;
            data_ = grown;
        }
        CopyUnits(data_ + length_, s, n);
        length_ += n;
        data_[length_] = 0;
    }
    // With &, < and > escaped for XML.
    void AppendEscaped(const wchar_t* s) {
        for (; *s; ++s) {
            if (*s == L'&') Append(L"&amp;");
            else if (*s == L'<') Append(L"&lt;");
            else if (*s == L'>') Append(L"&gt;");
            else Append(s, 1);
        }
    }
    const wchar_t* Get() const { return data_ ? data_ : L""; }

private:
    wchar_t* data_ = nullptr;
    int length_ = 0;
    int capacity_ = 0;
};

// The file-name text a player hands to an input plug-in: an XMLFN record with
// the path and the file type, the lower-case extension.
void XmlFileName(const wchar_t* path, Text& out) {
    out.Append(L"<XMLFN version=\"1.0\"><Item Name=\"Filename\">");
    out.AppendEscaped(path);
    out.Append(L"</Item>");
    const wchar_t* dot = nullptr;
    for (const wchar_t* p = path; *p; ++p) {
        if (*p == L'.') dot = p;
        if (*p == L'/' || *p == L'\\') dot = nullptr;
    }
    if (dot) {
        out.Append(L"<Item Name=\"FileType\">");
        for (const wchar_t* p = dot + 1; *p; ++p) {
            const wchar_t lower = *p >= L'A' && *p <= L'Z' ? static_cast<wchar_t>(*p + 32) : *p;
            out.Append(&lower, 1);
        }
        out.Append(L"</Item>");
    }
    out.Append(L"</XMLFN>");
}

// ---- The host's objects -----------------------------------------------------

class DllString : public IDllString {
public:
    ~DllString() { delete[] text_; }
    const wchar_t* GetText() override { return text_ ? text_ : L""; }
    void SetText(const wchar_t* text, int length) override {
        const int n = length < 0 ? Length(text) : length;
        wchar_t* buffer = Reserve(n);
        if (text) CopyUnits(buffer, text, n);
        buffer[text ? n : 0] = 0;
    }
    void Clear() override {
        if (text_) text_[0] = 0;
    }
    wchar_t* GetBuffer(int length, bool keepContents) override {
        const int old = keepContents ? Length(text_) : 0;
        wchar_t* kept = new wchar_t[old + 1];
        CopyUnits(kept, GetText(), old);
        wchar_t* buffer = Reserve(length > old ? length : old);
        CopyUnits(buffer, kept, old);
        buffer[old] = 0;
        delete[] kept;
        return buffer;
    }
    void ReleaseBuffer(int length) override {
        if (text_ && length >= 0 && length <= capacity_) text_[length] = 0;
    }

private:
    wchar_t* Reserve(int units) {
        if (!text_ || units > capacity_) {
            delete[] text_;
            text_ = new wchar_t[units + 1];
            capacity_ = units;
        }
        return text_;
    }
    wchar_t* text_ = nullptr;
    int capacity_ = 0;
};

// A reader over a Windows file handle.
class FileReader : public IReader {
public:
    explicit FileReader(const wchar_t* path) {
        const int n = Length(path);
        path_ = new wchar_t[n + 1];
        CopyUnits(path_, path, n + 1);
        ++g_liveReaders;
    }
    ~FileReader() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        delete[] path_;
        --g_liveReaders;
    }
    int GetState() override { return IsOpen() ? 1 : 0; }
    bool Reserved2() override { return false; }
    bool Open() override {
        file_ = CreateFileW(path_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        return file_ != INVALID_HANDLE_VALUE;
    }
    void Abort() override {}
    int Read(void* buffer, int count) override {
        DWORD got = 0;
        if (count <= 0 || !ReadFile(file_, buffer, static_cast<DWORD>(count), &got, nullptr)) return 0;
        return static_cast<int>(got);
    }
    int Write(const void*, int) override { return 0; }
    long long GetSize() override {
        LARGE_INTEGER size;
        return GetFileSizeEx(file_, &size) ? size.QuadPart : -1;
    }
    long long GetSizeNonNegative() override {
        const long long size = GetSize();
        return size < 0 ? 0 : size;
    }
    long long GetPosition() override { return Move(0, FILE_CURRENT); }
    long long Seek(long long offset, int origin) override {
        return Move(offset, origin == 0 ? FILE_BEGIN : origin == 1 ? FILE_CURRENT : FILE_END);
    }
    bool Truncate() override { return false; }
    bool Reserved12() override { return false; }
    void Reserved13() override {}
    bool HasCapability(int) override { return false; }
    bool IsOpen() override { return file_ != INVALID_HANDLE_VALUE; }
    void Reserved16() override {}
    void* Reserved17(void* resultSlot) override { return resultSlot; }
    void SetReserved18(int) override {}
    void SetReserved19(long long, int) override {}
    void SetOptions(const wchar_t*) override {}
    void SetOption(const wchar_t*, const wchar_t*) override { ++g_options; }
    wchar_t* GetOption(const wchar_t*) override { return nullptr; }
    void SetReserved23(unsigned char) override {}
    int Reserved24() override { return 0; }
    bool Reserved25() override { return false; }
    bool Reserved26() override { return false; }
    void SetObserver(void*) override {}
    bool Reserved28() override { return false; }
    bool Reserved29() override { return false; }
    double Reserved30() override { return 0.0; }
    int Reserved31() override { return 0; }

    static inline int g_liveReaders = 0;
    static inline int g_options = 0;

private:
    long long Move(long long offset, DWORD method) {
        LARGE_INTEGER distance, position;
        distance.QuadPart = offset;
        return SetFilePointerEx(file_, distance, &position, method) ? position.QuadPart : -1;
    }
    wchar_t* path_ = nullptr;
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

class Host : public IHost {
public:
    IReader* CreateReader(const wchar_t* fileName, int, int) override { return new FileReader(fileName); }
};

// ---- What the input source reports, as "dsdhost info" prints it -------------

struct Answer {
    DllString text;
    bool answered = false;
};

void Ask(IAudioInput* source, int code, Answer& answer) { answer.answered = source->GetInfo(code, &answer.text) == 0; }

void PrintAnswer(IAudioInput* source, const char* label, int code, const char* unit) {
    Answer answer;
    Ask(source, code, answer);
    Print(label);
    PrintWide(answer.text.GetText());
    Print(unit);
}

int Base64Value(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return c - L'A';
    if (c >= L'a' && c <= L'z') return c - L'a' + 26;
    if (c >= L'0' && c <= L'9') return c - L'0' + 52;
    if (c == L'+') return 62;
    if (c == L'/') return 63;
    return -1;
}

// The first `count` bytes of the Base64 text (line feeds skipped); false when
// the text is shorter.
bool DecodePrefix(const wchar_t* text, unsigned char* out, int count) {
    unsigned bits = 0;
    int have = 0, n = 0;
    for (; *text && n < count; ++text) {
        const int v = Base64Value(*text);
        if (v < 0) continue;
        bits = (bits << 6) | static_cast<unsigned>(v);
        have += 6;
        if (have >= 8) {
            have -= 8;
            out[n++] = static_cast<unsigned char>(bits >> have);
        }
    }
    return n == count;
}

void PrintFormat(IAudioInput* source) {
    Answer record;
    Ask(source, 30, record);
    unsigned char head[28];
    const char* kind = "unknown";
    unsigned tag = 0;
    if (record.answered && DecodePrefix(record.text.GetText(), head, 28)) {
        tag = head[0] | (head[1] << 8);
        const unsigned data1 = head[24] | (head[25] << 8) | (head[26] << 16) | (static_cast<unsigned>(head[27]) << 24);
        if (tag == 3) kind = "PCM, 64-bit float";
        else if (tag == 0xFFFE && data1 == 0x34CF0AEF) kind = "native DSD, least significant bit first";
        else if (tag == 0xFFFE && data1 == 0xB3B3761C) kind = "native DSD, most significant bit first";
        else if (tag == 0xFFFE && data1 == 0x759FB349) kind = "DSD packed in 64-bit frames (variant A)";
        else if (tag == 0xFFFE && data1 == 0x274485C3) kind = "DSD packed in 64-bit frames (variant B)";
    }
    Print("output format: ");
    Print(kind);
    Print(" (format tag 0x");
    const char* hex = "0123456789ABCDEF";
    char digits[5] = {hex[(tag >> 12) & 15], hex[(tag >> 8) & 15], hex[(tag >> 4) & 15], hex[tag & 15], 0};
    Print(digits);
    Print(")\n");
}

void PrintInfo(IAudioInput* source) {
    Answer status, duration;
    Ask(source, 35, status);
    Ask(source, 1, duration);
    const long long ms = ParseNumber(duration.text.GetText());
    PrintAnswer(source, "plug-in:       ", 2, "\n");
    PrintFormat(source);
    PrintAnswer(source, "sample rate:   ", 8, " Hz\n");
    PrintAnswer(source, "channels:      ", 9, "\n");
    PrintAnswer(source, "bits:          ", 10, "\n");
    PrintAnswer(source, "bit rate:      ", 0, " kbit/s\n");
    PrintAnswer(source, "length:        ", 12, " samples\n");
    Print("duration:      ");
    PrintNumber(ms);
    Print(" ms (");
    PrintNumber(ms / 60000);
    Print(":");
    PrintNumber((ms / 1000) % 60, 2);
    Print(".");
    PrintNumber(ms % 1000, 3);
    Print(")\n");
    PrintAnswer(source, "from memory:   ", 34, "\n");
    Print("low-pass:      ");
    if (Length(status.text.GetText()) == 0)
        Print("(none: DSD output or filter off)");
    else
        PrintWide(status.text.GetText());
    Print("\n");
}

int Fail(const char* message) {
    Print("msabi_host: ");
    Print(message);
    Print("\n");
    return 1;
}

int Run(int argc, wchar_t** argv) {
    if (argc < 6) return Fail("usage: msabi_host PLUGIN.dll FILE MODES SEEK_MS OUT.raw [FIELD]");
    HMODULE plugin = LoadLibraryW(argv[1]);
    if (!plugin) return Fail("LoadLibraryW failed for the plug-in");
    auto getInputSource = reinterpret_cast<GetInputSourceFn>(GetProcAddress(plugin, "GetInputSource"));
    auto getFileInfo = reinterpret_cast<GetFileInfoFn>(GetProcAddress(plugin, "GetFileInfo"));
    if (!getInputSource || !getFileInfo) return Fail("the plug-in lacks GetInputSource or GetFileInfo");

    Host host;
    IAudioInput* source = getInputSource(&host);
    if (!source) return Fail("GetInputSource returned null");
    source->SetInfo(31, argv[3]);
    Text fileName;
    XmlFileName(argv[2], fileName);
    if (source->Open(fileName.Get()) != 0) return Fail("Open failed");
    if (FileReader::g_liveReaders != 1 || FileReader::g_options == 0)
        return Fail("the plug-in did not create and set up one reader");
    PrintInfo(source);

    if (ParseNumber(argv[4]) > 0 && source->SetInfo(3, argv[4]) != 0) return Fail("seek failed");
    HANDLE out = CreateFileW(argv[5], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return Fail("cannot create the output file");
    const int chunk = 1 << 20;
    unsigned char* buffer = new unsigned char[chunk];
    bool ok = true;
    for (;;) {
        const int n = source->Read(buffer, chunk);
        if (n <= 0) break;
        DWORD written = 0;
        if (!WriteFile(out, buffer, static_cast<DWORD>(n), &written, nullptr) || written != static_cast<DWORD>(n)) {
            ok = false;
            break;
        }
    }
    delete[] buffer;
    CloseHandle(out);
    // The destructor runs through the plug-in's first slot; it destroys the reader.
    delete source;
    if (!ok) return Fail("write error");
    if (FileReader::g_liveReaders != 0) return Fail("the input source left its reader alive");

    IAudioFileInfo* info = nullptr;
    if (getFileInfo(&host, &info) != 1 || !info) return Fail("GetFileInfo gave no object");
    if (argc > 6) {
        DllString value;
        if (!info->Open(fileName.Get())) return Fail("the file-information object cannot open the file");
        const bool known = info->GetProperty(argv[6], &value);
        PrintWide(argv[6]);
        Print(": ");
        PrintWide(known ? value.GetText() : L"(none)");
        Print("\n");
        info->Close();
    }
    delete info;
    if (FileReader::g_liveReaders != 0) return Fail("the file-information object left a reader alive");
    if (!FreeLibrary(plugin)) return Fail("FreeLibrary failed");
    return 0;
}

}  // namespace

extern "C" void mainCRTStartup() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const int code = argv ? Run(argc, argv) : 2;
    if (argv) LocalFree(argv);
    ExitProcess(static_cast<UINT>(code));
}

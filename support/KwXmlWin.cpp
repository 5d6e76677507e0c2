// XML reader on Windows, over the system's XmlLite.
//
// The toolchain ships no import library for xmllite.dll, so its factory is
// looked up at run time through the platform layer (the library is part of
// every supported Windows version).
#if defined(_WIN32)

#include <windows.h>
#include <objidl.h>
#include <shlwapi.h>
#include <xmllite.h>

#include <new>
#include <vector>

#include "KwPlatform.h"
#include "KwXml.h"

namespace {

using CreateXmlReaderFn = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

// LOAD_LIBRARY_SEARCH_SYSTEM32: only the system folder is searched.
constexpr uint32_t kLoadFromSystemFolder = 0x00000800;

template <class T>
class ComRef {
public:
    ComRef() = default;
    explicit ComRef(T* p) : p_(p) {}
    ~ComRef() {
        if (p_) p_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* get() const { return p_; }
    T** out() { return &p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

class XmlLiteLibrary {
public:
    XmlLiteLibrary() {
        module_ = KwLoadLibrary(KW_T("xmllite.dll"), kLoadFromSystemFolder);
        if (!module_) module_ = KwLoadLibrary(KW_T("xmllite.dll"), 0);
        if (module_) create_ = reinterpret_cast<CreateXmlReaderFn>(KwGetProcAddress(module_, "CreateXmlReader"));
    }
    ~XmlLiteLibrary() { KwFreeLibrary(module_); }
    XmlLiteLibrary(const XmlLiteLibrary&) = delete;
    XmlLiteLibrary& operator=(const XmlLiteLibrary&) = delete;
    CreateXmlReaderFn create() const { return create_; }

private:
    KwModuleHandle module_ = nullptr;
    CreateXmlReaderFn create_ = nullptr;
};

KwString NodeName(IXmlReader* reader) {
    const WCHAR* name = nullptr;
    UINT length = 0;
    if (FAILED(reader->GetQualifiedName(&name, &length)) || !name) return KwString();
    return KwString(name, length);
}

bool NodeValue(IXmlReader* reader, KwString& value) {
    const WCHAR* text = nullptr;
    UINT length = 0;
    if (FAILED(reader->GetValue(&text, &length))) return false;
    value.assign(text ? text : L"", text ? length : 0);
    return true;
}

bool Parse(IXmlReader* reader, KwXmlElement& root, int maxDepth) {
    std::vector<KwXmlElement*> open;
    bool haveRoot = false;
    KwString value;
    for (;;) {
        XmlNodeType type = XmlNodeType_None;
        const HRESULT hr = reader->Read(&type);
        if (hr == S_FALSE) break;
        if (hr != S_OK) return false;
        switch (type) {
            case XmlNodeType_Element: {
                KwXmlElement* element;
                if (open.empty()) {
                    if (haveRoot) return false;
                    haveRoot = true;
                    element = &root;
                } else {
                    if (static_cast<int>(open.size()) >= maxDepth) return false;
                    // Only the innermost open element gains children, so the
                    // pointers to its ancestors stay valid.
                    open.back()->children.emplace_back();
                    element = &open.back()->children.back();
                }
                element->name = NodeName(reader);
                const bool empty = reader->IsEmptyElement() != FALSE;
                HRESULT a = reader->MoveToFirstAttribute();
                while (a == S_OK) {
                    KwXmlAttribute attribute;
                    attribute.name = NodeName(reader);
                    if (!NodeValue(reader, attribute.value)) return false;
                    element->attributes.push_back(std::move(attribute));
                    a = reader->MoveToNextAttribute();
                }
                if (FAILED(a)) return false;
                reader->MoveToElement();
                if (!empty) open.push_back(element);
                break;
            }
            case XmlNodeType_EndElement:
                if (open.empty()) return false;
                open.pop_back();
                break;
            case XmlNodeType_Text:
            case XmlNodeType_CDATA:
            case XmlNodeType_Whitespace:
                if (!NodeValue(reader, value)) return false;
                if (!open.empty())
                    open.back()->text += value;
                else if (type != XmlNodeType_Whitespace)
                    return false;
                break;
            default:
                break;
        }
    }
    return haveRoot && open.empty();
}

}  // namespace

bool KwXmlParse(KwStringView text, KwXmlElement& root, int maxDepth) {
    root = KwXmlElement();
    if (text.find(KwChar(0)) != KwStringView::npos) return false;
    if (text.size() > 0x3FFFFFF0u) return false;
    try {
        XmlLiteLibrary library;
        if (!library.create()) return false;
        // A byte-order mark tells XmlLite that the bytes are UTF-16.
        std::vector<BYTE> bytes((text.size() + 1) * sizeof(KwChar));
        bytes[0] = 0xFF;
        bytes[1] = 0xFE;
        for (size_t i = 0; i < text.size(); ++i) {
            const auto u = static_cast<uint16_t>(text[i]);
            bytes[2 + 2 * i] = static_cast<BYTE>(u & 0xFF);
            bytes[3 + 2 * i] = static_cast<BYTE>(u >> 8);
        }
        ComRef<IStream> stream(SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size())));
        if (!stream) return false;
        ComRef<IXmlReader> reader;
        if (FAILED(library.create()(__uuidof(IXmlReader), reinterpret_cast<void**>(reader.out()), nullptr)) ||
            !reader)
            return false;
        if (FAILED(reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit)) ||
            // The library's own limit stops runaway nesting early; the exact
            // limit is checked while the tree is built.
            FAILED(reader->SetProperty(XmlReaderProperty_MaxElementDepth, static_cast<LONG_PTR>(maxDepth) + 1)) ||
            FAILED(reader->SetInput(stream.get())))
            return false;
        KwXmlElement parsed;
        if (!Parse(reader.get(), parsed, maxDepth)) return false;
        root = std::move(parsed);
        return true;
    } catch (const std::bad_alloc&) {
        root = KwXmlElement();
        return false;
    }
}

#endif

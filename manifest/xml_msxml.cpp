// XML DOM backend over MSXML (the version-independent DOMDocument class). Each handle
// holds one reference to its DOM interface and releases it when destroyed. Text comes
// as BSTRs and is converted with the thread's ANSI code page.
//
// selectNodes is called on elements only: on the document some DOMs find nothing for a
// plain element name.
#include "framework/platform/platform.h"

#include <msxml2.h>

#include <cstring>
#include <string>

#include "fragments/http_file.h"
#include "framework/com_ptr.h"
#include "manifest/xml_dom.h"

namespace {

// An owned BSTR made from narrow text.
class CBstr {
public:
    explicit CBstr(const char* text) {
        std::wstring wide;
        if (SUCCEEDED(AnsiToWide(text, std::strlen(text), &wide)))
            m_bstr = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    }
    ~CBstr() { SysFreeString(m_bstr); }
    BSTR Get() const { return m_bstr; }

private:
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    BSTR m_bstr = nullptr;
};

} // namespace

struct CXmlBackend {
    template <class Handle> static void Attach(Handle* handle, IUnknown* p) {
        handle->Reset();
        handle->m_pHandle = p;
    }
    static IXMLDOMNode* Node(const CXmlElement& element) {
        return static_cast<IXMLDOMNode*>(element.m_pHandle);
    }
    static IXMLDOMNamedNodeMap* Map(const CXmlAttributes& attributes) {
        return static_cast<IXMLDOMNamedNodeMap*>(attributes.m_pHandle);
    }
    static IXMLDOMNodeList* List(const CXmlNodeList& list) {
        return static_cast<IXMLDOMNodeList*>(list.m_pHandle);
    }
    static IXMLDOMDocument* Doc(const CXmlDocument& document) {
        return static_cast<IXMLDOMDocument*>(document.m_pHandle);
    }
    static void SetDoc(CXmlDocument* document, IXMLDOMDocument* doc) { document->m_pHandle = doc; }
    // Drops the handle's reference.
    template <class Interface> static void Release(void*& handle) {
        ComPtr<Interface>::Adopt(static_cast<Interface*>(handle));
        handle = nullptr;
    }
};

CXmlAttributes::~CXmlAttributes() {
    Reset();
}
void CXmlAttributes::Reset() {
    CXmlBackend::Release<IXMLDOMNamedNodeMap>(m_pHandle);
}

HRESULT CXmlAttributes::GetText(const char* name, std::string* text) const {
    IXMLDOMNamedNodeMap* map = CXmlBackend::Map(*this);
    if (map == nullptr)
        return E_POINTER;
    CBstr bstrName(name);
    if (bstrName.Get() == nullptr)
        return E_OUTOFMEMORY;
    ComPtr<IXMLDOMNode> attribute;
    HRESULT hr = map->getNamedItem(bstrName.Get(), attribute.Out());
    if (FAILED(hr))
        return hr;
    if (!attribute)
        return S_FALSE;
    BSTR value = nullptr;
    hr = attribute->get_text(&value);
    if (FAILED(hr))
        return hr;
    hr = WideToAnsi(value, value != nullptr ? SysStringLen(value) : 0, text);
    SysFreeString(value);
    return hr;
}

CXmlNodeList::~CXmlNodeList() {
    Reset();
}
void CXmlNodeList::Reset() {
    CXmlBackend::Release<IXMLDOMNodeList>(m_pHandle);
}

HRESULT CXmlNodeList::GetLength(long* length) const {
    IXMLDOMNodeList* list = CXmlBackend::List(*this);
    if (list == nullptr)
        return E_POINTER;
    LONG value = 0;
    HRESULT hr = list->get_length(&value);
    if (SUCCEEDED(hr))
        *length = value;
    return hr;
}

HRESULT CXmlNodeList::GetItem(long index, CXmlElement* element) const {
    IXMLDOMNodeList* list = CXmlBackend::List(*this);
    if (list == nullptr)
        return E_POINTER;
    IXMLDOMNode* node = nullptr;
    HRESULT hr = list->get_item(index, &node);
    CXmlBackend::Attach(element, node);
    if (SUCCEEDED(hr) && node == nullptr)
        return S_FALSE;
    return hr;
}

CXmlElement::~CXmlElement() {
    Reset();
}
void CXmlElement::Reset() {
    CXmlBackend::Release<IXMLDOMNode>(m_pHandle);
}

HRESULT CXmlElement::GetAttributes(CXmlAttributes* attributes) const {
    IXMLDOMNode* node = CXmlBackend::Node(*this);
    if (node == nullptr)
        return E_POINTER;
    IXMLDOMNamedNodeMap* map = nullptr;
    HRESULT hr = node->get_attributes(&map);
    CXmlBackend::Attach(attributes, map);
    if (SUCCEEDED(hr) && map == nullptr)
        return S_FALSE;
    return hr;
}

HRESULT CXmlElement::SelectChildren(const char* name, CXmlNodeList* children) const {
    IXMLDOMNode* node = CXmlBackend::Node(*this);
    if (node == nullptr)
        return E_POINTER;
    CBstr query(name);
    if (query.Get() == nullptr)
        return E_OUTOFMEMORY;
    IXMLDOMNodeList* list = nullptr;
    HRESULT hr = node->selectNodes(query.Get(), &list);
    CXmlBackend::Attach(children, list);
    if (SUCCEEDED(hr) && list == nullptr)
        return E_POINTER;
    return hr;
}

CXmlDocument::~CXmlDocument() {
    Close();
}

void CXmlDocument::Close() {
    CXmlBackend::Release<IXMLDOMDocument>(m_pHandle);
}

namespace {

// Loads source (a file name or a stream) into document, or fails leaving it closed.
HRESULT LoadDocument(const VARIANT& source, CXmlDocument* document) {
    ComPtr<IXMLDOMDocument> doc;
    HRESULT hr = CoCreateInstance(CLSID_KvssfDOMDocument, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IXMLDOMDocument, doc.OutVoid());
    if (FAILED(hr))
        return hr;
    // Their results do not matter: the defaults only make the parse stricter or slower.
    doc->put_validateOnParse(VARIANT_FALSE);
    doc->put_resolveExternals(VARIANT_FALSE);
    doc->put_preserveWhiteSpace(VARIANT_FALSE);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    // Not asynchronous for a local source: the document is complete when load returns.
    hr = doc->load(source, &loaded);
    // Some DOMs fail a malformed stream with E_FAIL: a stream in memory has nothing else
    // to fail on.
    if (FAILED(hr) && source.vt == VT_UNKNOWN && hr != E_OUTOFMEMORY)
        return VFW_E_INVALID_FILE_FORMAT;
    if (FAILED(hr))
        return hr;
    if (loaded == VARIANT_FALSE)
        return VFW_E_INVALID_FILE_FORMAT;
    CXmlBackend::SetDoc(document, doc.Detach());
    return S_OK;
}

// The rest of stream copied into a memory stream positioned at its start.
HRESULT CopyToMemoryStream(FILE* stream, ComPtr<IStream>* memory) {
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, memory->Out());
    if (FAILED(hr))
        return hr;
    char buffer[65536];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, stream)) > 0) {
        hr = (*memory)->Write(buffer, static_cast<ULONG>(count), nullptr);
        if (FAILED(hr))
            return hr;
    }
    if (ferror(stream))
        return E_FAIL;
    const LARGE_INTEGER start = {};
    return (*memory)->Seek(start, STREAM_SEEK_SET, nullptr);
}

} // namespace

HRESULT CXmlDocument::Load(const char* path) {
    Close();
    CBstr bstrPath(path);
    if (bstrPath.Get() == nullptr)
        return E_OUTOFMEMORY;
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = bstrPath.Get();
    return LoadDocument(source, this);
}

HRESULT CXmlDocument::LoadDownload(CHttpFile* body) {
    Close();
    if (body->Stream == nullptr)
        return E_UNEXPECTED;
    ComPtr<IStream> memory;
    HRESULT hr = CopyToMemoryStream(body->Stream, &memory);
    body->Close();
    if (FAILED(hr))
        return hr;
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_UNKNOWN;
    source.punkVal = memory.Get();
    return LoadDocument(source, this);
}

HRESULT CXmlDocument::FindFirstElement(const char* name, CXmlElement* element) const {
    IXMLDOMDocument* doc = CXmlBackend::Doc(*this);
    CXmlBackend::Attach(element, nullptr);
    if (doc == nullptr)
        return E_POINTER;
    CBstr tagName(name);
    if (tagName.Get() == nullptr)
        return E_OUTOFMEMORY;
    ComPtr<IXMLDOMNodeList> list;
    HRESULT hr = doc->getElementsByTagName(tagName.Get(), list.Out());
    if (hr != S_OK)
        return hr;
    LONG length = 0;
    hr = list->get_length(&length);
    if (FAILED(hr) || length < 1)
        return FAILED(hr) ? hr : S_FALSE;
    IXMLDOMNode* node = nullptr;
    hr = list->get_item(0, &node);
    CXmlBackend::Attach(element, node);
    if (SUCCEEDED(hr) && node == nullptr)
        return S_FALSE;
    return hr;
}

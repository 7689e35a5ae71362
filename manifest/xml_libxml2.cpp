// XML DOM backend over libxml2. Text arrives as UTF-8, the ANSI code page on POSIX.
// Elements and attribute maps are plain node pointers owned by the document; a node
// list owns a vector of them.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <malloc.h>

#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "fragments/http_file.h"
#include "manifest/xml_dom.h"

namespace {

// Matches a node's qualified name (prefix:local, or local without a prefix).
bool QualifiedNameIs(const xmlNs* ns, const xmlChar* local, const char* name) {
    const char* text = name;
    if (ns != nullptr && ns->prefix != nullptr) {
        const size_t prefixLength = std::strlen(reinterpret_cast<const char*>(ns->prefix));
        if (std::strncmp(text, reinterpret_cast<const char*>(ns->prefix), prefixLength) != 0 ||
            text[prefixLength] != ':')
            return false;
        text += prefixLength + 1;
    }
    return std::strcmp(reinterpret_cast<const char*>(local), text) == 0;
}

bool IsElementNamed(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && QualifiedNameIs(node->ns, node->name, name);
}

using NodeVector = std::vector<xmlNode*>;

} // namespace

struct CXmlBackend {
    static void Attach(CXmlElement* element, xmlNode* node) {
        element->Reset();
        element->m_pHandle = node;
    }
    static void Attach(CXmlAttributes* attributes, xmlNode* node) {
        attributes->Reset();
        attributes->m_pHandle = node;
    }
    static void Attach(CXmlNodeList* list, NodeVector* nodes) {
        list->Reset();
        list->m_pHandle = nodes;
    }
    static xmlNode* Node(const CXmlElement& element) {
        return static_cast<xmlNode*>(element.m_pHandle);
    }
    static xmlNode* Node(const CXmlAttributes& attributes) {
        return static_cast<xmlNode*>(attributes.m_pHandle);
    }
    static NodeVector* Nodes(const CXmlNodeList& list) {
        return static_cast<NodeVector*>(list.m_pHandle);
    }
    static xmlDoc* Doc(const CXmlDocument& document) {
        return static_cast<xmlDoc*>(document.m_pHandle);
    }
    static void SetDoc(CXmlDocument* document, xmlDoc* doc) { document->m_pHandle = doc; }
};

CXmlAttributes::~CXmlAttributes() {
    Reset();
}
void CXmlAttributes::Reset() {
    m_pHandle = nullptr;
}

HRESULT CXmlAttributes::GetText(const char* name, std::string* text) const {
    const xmlNode* node = CXmlBackend::Node(*this);
    if (node == nullptr)
        return E_POINTER;
    for (const xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
        if (!QualifiedNameIs(attr->ns, attr->name, name))
            continue;
        const xmlNode* value = attr->children;
        if (value == nullptr) {
            text->clear();
        } else if (value->next == nullptr && value->type == XML_TEXT_NODE) {
            text->assign(reinterpret_cast<const char*>(value->content));
        } else {
            // Entity references split the value into several nodes.
            xmlChar* joined = xmlNodeListGetString(node->doc, value, 1);
            if (joined == nullptr)
                return E_OUTOFMEMORY;
            text->assign(reinterpret_cast<const char*>(joined));
            xmlFree(joined);
        }
        return S_OK;
    }
    return S_FALSE;
}

CXmlNodeList::~CXmlNodeList() {
    Reset();
}
void CXmlNodeList::Reset() {
    delete CXmlBackend::Nodes(*this);
    m_pHandle = nullptr;
}

HRESULT CXmlNodeList::GetLength(long* length) const {
    const NodeVector* nodes = CXmlBackend::Nodes(*this);
    if (nodes == nullptr)
        return E_POINTER;
    *length = static_cast<long>(nodes->size());
    return S_OK;
}

HRESULT CXmlNodeList::GetItem(long index, CXmlElement* element) const {
    const NodeVector* nodes = CXmlBackend::Nodes(*this);
    if (nodes == nullptr)
        return E_POINTER;
    if (index < 0 || static_cast<size_t>(index) >= nodes->size()) {
        CXmlBackend::Attach(element, nullptr);
        return S_FALSE;
    }
    CXmlBackend::Attach(element, (*nodes)[index]);
    return S_OK;
}

CXmlElement::~CXmlElement() {
    Reset();
}
void CXmlElement::Reset() {
    m_pHandle = nullptr;
}

HRESULT CXmlElement::GetAttributes(CXmlAttributes* attributes) const {
    xmlNode* node = CXmlBackend::Node(*this);
    if (node == nullptr)
        return E_POINTER;
    CXmlBackend::Attach(attributes, node);
    return S_OK;
}

HRESULT CXmlElement::SelectChildren(const char* name, CXmlNodeList* children) const {
    xmlNode* node = CXmlBackend::Node(*this);
    if (node == nullptr)
        return E_POINTER;
    auto* nodes = new (std::nothrow) NodeVector;
    if (nodes == nullptr)
        return E_OUTOFMEMORY;
    try {
        for (xmlNode* child = node->children; child != nullptr; child = child->next)
            if (IsElementNamed(child, name))
                nodes->push_back(child);
    } catch (const std::bad_alloc&) {
        delete nodes;
        return E_OUTOFMEMORY;
    }
    CXmlBackend::Attach(children, nodes);
    return S_OK;
}

CXmlDocument::~CXmlDocument() {
    Close();
}

void CXmlDocument::Close() {
    if (xmlDoc* doc = CXmlBackend::Doc(*this)) {
        xmlFreeDoc(doc);
        // A long presentation's document leaves megabytes of small freed blocks
        // resident for the whole play; give their pages back (cheap for a small one).
        malloc_trim(0);
    }
    CXmlBackend::SetDoc(this, nullptr);
}

namespace {

// No network, no DTD loading or entity substitution, blank text dropped; errors are
// reported through the result, not printed.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_COMPACT |
                              XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

// libxml2 wants its globals set up once before documents are parsed on any thread.
void InitializeParser() {
    static std::once_flag initialised;
    std::call_once(initialised, [] { xmlInitParser(); });
}

// libxml2's input callback over a downloaded body: bytes read, or -1 on an error.
int ReadBody(void* context, char* buffer, int size) {
    size_t count = 0;
    if (FAILED(static_cast<CHttpFile*>(context)->Read(buffer, size_t(size), &count)))
        return -1;
    return int(count);
}

} // namespace

HRESULT CXmlDocument::Load(const char* path) {
    Close();
    InitializeParser();
    xmlDoc* doc = xmlReadFile(path, nullptr, kParseOptions);
    if (doc == nullptr)
        return VFW_E_INVALID_FILE_FORMAT;
    CXmlBackend::SetDoc(this, doc);
    return S_OK;
}

HRESULT CXmlDocument::LoadDownload(CHttpFile* body) {
    Close();
    InitializeParser();
    xmlDoc* doc = xmlReadIO(ReadBody, nullptr, body, nullptr, nullptr, kParseOptions);
    body->Close();
    if (doc == nullptr)
        return VFW_E_INVALID_FILE_FORMAT;
    CXmlBackend::SetDoc(this, doc);
    return S_OK;
}

HRESULT CXmlDocument::FindFirstElement(const char* name, CXmlElement* element) const {
    xmlDoc* doc = CXmlBackend::Doc(*this);
    if (doc == nullptr)
        return E_POINTER;
    // Pre-order walk: document order.
    xmlNode* node = doc->children;
    while (node != nullptr) {
        if (IsElementNamed(node, name)) {
            CXmlBackend::Attach(element, node);
            return S_OK;
        }
        if (node->type == XML_ELEMENT_NODE && node->children != nullptr) {
            node = node->children;
            continue;
        }
        while (node != nullptr && node->next == nullptr)
            node = node->parent == reinterpret_cast<xmlNode*>(doc) ? nullptr : node->parent;
        if (node != nullptr)
            node = node->next;
    }
    CXmlBackend::Attach(element, nullptr);
    return S_FALSE;
}

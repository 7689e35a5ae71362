// A read-only view of an XML document through the platform DOM, reduced to what the
// manifest reader needs. The backend (xml_msxml.cpp or xml_libxml2.cpp) is chosen by the
// build. Every call returns the DOM's own HRESULT, so the reader can tell present
// (S_OK), absent (S_FALSE) and failed apart. Element names and attribute names are
// matched exactly as written in the document (qualified names).
//
// Handles are move-only; each releases what it holds when destroyed. Elements, lists
// and attribute maps stay valid only while their document is loaded.
#pragma once

#include <string>

#include "framework/platform/platform.h"

class CHttpFile;
class CXmlElement;
struct CXmlBackend;

// The attributes of one element.
class CXmlAttributes {
public:
    CXmlAttributes() = default;
    ~CXmlAttributes();
    CXmlAttributes(CXmlAttributes&& other) noexcept : m_pHandle(other.m_pHandle) {
        other.m_pHandle = nullptr;
    }
    CXmlAttributes& operator=(CXmlAttributes&& other) noexcept;

    // S_OK with *text set to the value in the thread's ANSI code page (an empty value
    // is present); S_FALSE when there is no such attribute (*text untouched); else the
    // DOM's failure.
    HRESULT GetText(const char* name, std::string* text) const;

private:
    friend struct CXmlBackend;
    CXmlAttributes(const CXmlAttributes&) = delete;
    CXmlAttributes& operator=(const CXmlAttributes&) = delete;
    void Reset();

    void* m_pHandle = nullptr;
};

// The elements a selection found, in document order.
class CXmlNodeList {
public:
    CXmlNodeList() = default;
    ~CXmlNodeList();
    CXmlNodeList(CXmlNodeList&& other) noexcept : m_pHandle(other.m_pHandle) {
        other.m_pHandle = nullptr;
    }
    CXmlNodeList& operator=(CXmlNodeList&& other) noexcept;

    HRESULT GetLength(long* length) const;
    // S_OK with the element; S_FALSE with a null element when index is out of range.
    HRESULT GetItem(long index, CXmlElement* element) const;

private:
    friend struct CXmlBackend;
    CXmlNodeList(const CXmlNodeList&) = delete;
    CXmlNodeList& operator=(const CXmlNodeList&) = delete;
    void Reset();

    void* m_pHandle = nullptr;
};

class CXmlElement {
public:
    CXmlElement() = default;
    ~CXmlElement();
    CXmlElement(CXmlElement&& other) noexcept : m_pHandle(other.m_pHandle) {
        other.m_pHandle = nullptr;
    }
    CXmlElement& operator=(CXmlElement&& other) noexcept;

    bool IsNull() const { return m_pHandle == nullptr; }

    // S_OK with the attribute map; S_FALSE when the DOM has none for this node.
    HRESULT GetAttributes(CXmlAttributes* attributes) const;
    // The child elements called name, in document order (an empty list when none).
    HRESULT SelectChildren(const char* name, CXmlNodeList* children) const;

private:
    friend struct CXmlBackend;
    CXmlElement(const CXmlElement&) = delete;
    CXmlElement& operator=(const CXmlElement&) = delete;
    void Reset();

    void* m_pHandle = nullptr;
};

class CXmlDocument {
public:
    CXmlDocument() = default;
    // Releases the document (Close).
    ~CXmlDocument();

    // Creates the DOM and parses the file at path (narrow, ANSI code page), external
    // resources not resolved, no validation, white space not preserved. The failure of
    // the DOM's creation or load call is returned as it is; a document that is not
    // well-formed gives VFW_E_INVALID_FILE_FORMAT.
    HRESULT Load(const char* path);
    // As Load, from a body CHttpFile::Download stored, read from its open stream's
    // position (the file may have no name, or be deleted on close). The body is consumed:
    // on return it is closed. MSXML takes a copy in memory; libxml2 reads the stream.
    HRESULT LoadDownload(CHttpFile* body);
    // The first element called name in document order: S_OK, or S_FALSE (null element)
    // when there is none.
    HRESULT FindFirstElement(const char* name, CXmlElement* element) const;
    // Releases the document; handles obtained from it must be gone by then.
    void Close();

private:
    friend struct CXmlBackend;
    CXmlDocument(const CXmlDocument&) = delete;
    CXmlDocument& operator=(const CXmlDocument&) = delete;

    void* m_pHandle = nullptr;
};

inline CXmlAttributes& CXmlAttributes::operator=(CXmlAttributes&& other) noexcept {
    if (this != &other) {
        Reset();
        m_pHandle = other.m_pHandle;
        other.m_pHandle = nullptr;
    }
    return *this;
}

inline CXmlNodeList& CXmlNodeList::operator=(CXmlNodeList&& other) noexcept {
    if (this != &other) {
        Reset();
        m_pHandle = other.m_pHandle;
        other.m_pHandle = nullptr;
    }
    return *this;
}

inline CXmlElement& CXmlElement::operator=(CXmlElement&& other) noexcept {
    if (this != &other) {
        Reset();
        m_pHandle = other.m_pHandle;
        other.m_pHandle = nullptr;
    }
    return *this;
}

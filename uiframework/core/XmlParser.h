// In-place parser of the skin's layout files: one UTF-16 copy of the document,
// cut up by terminating zeros, and a flat array of element records.
#pragma once

#include <windows.h>

#include <cstddef>

#include "SkinFile.h"

namespace SkinUI {

class CXmlParser;

class CXmlNode {
public:
    enum { kMaxAttributes = 64 };

    CXmlNode();

    bool IsValid() const { return m_pOwner != nullptr; }
    LPCWSTR GetName() const;
    LPCWSTR GetValue() const;   // the element's text
    CXmlNode GetParent() const;
    CXmlNode GetChild() const;
    CXmlNode GetSibling() const;
    bool HasChildren() const;
    bool HasAttributes();
    int GetAttributeCount();
    LPCWSTR GetAttributeName(int index);
    LPCWSTR GetAttributeValue(int index);
    // Value of the first attribute of that name, or null when absent.
    LPCWSTR GetAttributeValue(LPCWSTR name, bool ignoreCase = false);
    // Copies the value of the first attribute of that exact name; at most max - 1
    // characters, always terminated, the rest of the buffer zeroed.
    bool GetAttributeValueCopy(LPCWSTR name, LPWSTR buffer, size_t maxChars);

private:
    friend class CXmlParser;
    CXmlNode(CXmlParser* owner, int element);
    void MapAttributes();

    int m_iPos;
    int m_nAttributes;
    struct {
        ULONG iName;
        ULONG iValue;
    } m_aAttributes[kMaxAttributes];
    CXmlParser* m_pOwner;
};

class CXmlParser {
public:
    enum Encoding { kUtf8 = 0, kUtf16 = 1, kAnsi = 2 };
    // Nesting deeper than this is refused rather than recursed into.
    enum { kMaxDepth = 256 };

    explicit CXmlParser(LPCWSTR text = nullptr);
    ~CXmlParser();
    CXmlParser(const CXmlParser&) = delete;
    CXmlParser& operator=(const CXmlParser&) = delete;

    bool Load(LPCWSTR text);
    bool LoadFromMem(const void* bytes, size_t count, int encoding = kUtf8);
    // Reads a skin file by its path inside the skin, from the source in force.
    bool LoadFromFile(LPCWSTR name, int encoding = kUtf8);
    bool LoadFromSource(const SkinSource& source, LPCWSTR name, int encoding = kUtf8);
    void Release();
    bool IsValid() const { return m_pElements != nullptr; }

    void SetPreserveWhitespace(bool preserve) { m_bPreserveWhitespace = preserve; }
    LPCWSTR GetLastErrorMessage() const { return m_szErrorMsg; }
    LPCWSTR GetLastErrorLocation() const { return m_szErrorXML; }

    CXmlNode GetRoot();
    int GetElementCount() const { return m_nElements; }

private:
    friend class CXmlNode;
    struct Element {
        ULONG iStart;    // name offset
        ULONG iChild;
        ULONG iNext;
        ULONG iParent;
        ULONG iData;     // text offset ("/" of an empty-element tag)
    };

    bool Parse();
    bool ParseLevel(LPWSTR& p, ULONG parent, int depth);
    Element* ReserveElement();
    void SkipWhitespace(LPWSTR& p) const;
    void SkipWhitespace(LPCWSTR& p) const;
    void SkipIdentifier(LPWSTR& p) const;
    void SkipIdentifier(LPCWSTR& p) const;
    bool ParseData(LPWSTR& p, LPWSTR& dest, wchar_t end);
    void ParseMetaChar(LPWSTR& p, LPWSTR& dest);
    bool ParseAttributes(LPWSTR& p);
    bool Failed(LPCWSTR message, LPCWSTR location);
    bool TakeText(LPWSTR text);

    LPWSTR m_pstrXML;
    Element* m_pElements;
    ULONG m_nElements;
    ULONG m_nReservedElements;
    wchar_t m_szErrorMsg[100];
    wchar_t m_szErrorXML[50];
    bool m_bPreserveWhitespace;
};

}  // namespace SkinUI

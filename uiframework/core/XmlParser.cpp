// The in-place XML parser of the layout files: decoding to UTF-16, elements,
// attributes and entities, with a depth cap.
#include "XmlParser.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>

namespace SkinUI {

namespace {

bool IsBlank(wchar_t c) { return c > L'\0' && c <= L' '; }
bool IsIdentifierChar(wchar_t c) { return c == L'_' || c == L':' || std::iswalnum(c); }

void CopyCut(wchar_t* to, size_t capacity, LPCWSTR from)
{
    size_t i = 0;
    if (from) {
        for (; i + 1 < capacity && from[i]; ++i) to[i] = from[i];
    }
    to[i] = L'\0';
}

}  // namespace

// ---------------------------------------------------------------- CXmlNode

CXmlNode::CXmlNode() : m_iPos(0), m_nAttributes(0), m_aAttributes(), m_pOwner(nullptr) {}

CXmlNode::CXmlNode(CXmlParser* owner, int element)
    : m_iPos(element), m_nAttributes(0), m_aAttributes(), m_pOwner(owner)
{
}

LPCWSTR CXmlNode::GetName() const
{
    if (!m_pOwner) return nullptr;
    return m_pOwner->m_pstrXML + m_pOwner->m_pElements[m_iPos].iStart;
}

LPCWSTR CXmlNode::GetValue() const
{
    if (!m_pOwner) return nullptr;
    return m_pOwner->m_pstrXML + m_pOwner->m_pElements[m_iPos].iData;
}

CXmlNode CXmlNode::GetParent() const
{
    if (!m_pOwner) return CXmlNode();
    const ULONG parent = m_pOwner->m_pElements[m_iPos].iParent;
    return parent == 0 ? CXmlNode() : CXmlNode(m_pOwner, static_cast<int>(parent));
}

CXmlNode CXmlNode::GetChild() const
{
    if (!m_pOwner) return CXmlNode();
    const ULONG child = m_pOwner->m_pElements[m_iPos].iChild;
    return child == 0 ? CXmlNode() : CXmlNode(m_pOwner, static_cast<int>(child));
}

CXmlNode CXmlNode::GetSibling() const
{
    if (!m_pOwner) return CXmlNode();
    const ULONG next = m_pOwner->m_pElements[m_iPos].iNext;
    return next == 0 ? CXmlNode() : CXmlNode(m_pOwner, static_cast<int>(next));
}

bool CXmlNode::HasChildren() const
{
    return m_pOwner && m_pOwner->m_pElements[m_iPos].iChild != 0;
}

bool CXmlNode::HasAttributes() { return GetAttributeCount() > 0; }

int CXmlNode::GetAttributeCount()
{
    if (!m_pOwner) return 0;
    if (m_nAttributes == 0) MapAttributes();
    return m_nAttributes;
}

LPCWSTR CXmlNode::GetAttributeName(int index)
{
    if (!m_pOwner) return nullptr;
    if (m_nAttributes == 0) MapAttributes();
    if (index < 0 || index >= m_nAttributes) return L"";
    return m_pOwner->m_pstrXML + m_aAttributes[index].iName;
}

LPCWSTR CXmlNode::GetAttributeValue(int index)
{
    if (!m_pOwner) return nullptr;
    if (m_nAttributes == 0) MapAttributes();
    if (index < 0 || index >= m_nAttributes) return L"";
    return m_pOwner->m_pstrXML + m_aAttributes[index].iValue;
}

LPCWSTR CXmlNode::GetAttributeValue(LPCWSTR name, bool ignoreCase)
{
    if (!m_pOwner || !name) return nullptr;
    if (m_nAttributes == 0) MapAttributes();
    for (int i = 0; i < m_nAttributes; ++i) {
        LPCWSTR attr = m_pOwner->m_pstrXML + m_aAttributes[i].iName;
        if (ignoreCase ? lstrcmpiW(attr, name) == 0 : wcscmp(attr, name) == 0) {
            return m_pOwner->m_pstrXML + m_aAttributes[i].iValue;
        }
    }
    return nullptr;
}

bool CXmlNode::GetAttributeValueCopy(LPCWSTR name, LPWSTR buffer, size_t maxChars)
{
    if (!m_pOwner || !name || !buffer || maxChars == 0) return false;
    if (m_nAttributes == 0) MapAttributes();
    for (int i = 0; i < m_nAttributes; ++i) {
        if (wcscmp(m_pOwner->m_pstrXML + m_aAttributes[i].iName, name) != 0) continue;
        LPCWSTR value = m_pOwner->m_pstrXML + m_aAttributes[i].iValue;
        // A value as long as the buffer is cut by one so that it stays terminated.
        size_t n = 0;
        for (; n + 1 < maxChars && value[n]; ++n) buffer[n] = value[n];
        for (size_t k = n; k < maxChars; ++k) buffer[k] = L'\0';
        return true;
    }
    return false;
}

void CXmlNode::MapAttributes()
{
    m_nAttributes = 0;
    const wchar_t* xml = m_pOwner->m_pstrXML;
    const CXmlParser::Element& el = m_pOwner->m_pElements[m_iPos];
    const wchar_t* p = xml + el.iStart;
    const wchar_t* end = xml + el.iData;
    p += wcslen(p) + 1;
    while (p < end) {
        m_pOwner->SkipWhitespace(p);
        if (*p == L'\0' && p >= end) return;
        m_aAttributes[m_nAttributes].iName = static_cast<ULONG>(p - xml);
        p += wcslen(p) + 1;
        if (p > end) return;
        m_pOwner->SkipWhitespace(p);
        if (*p != L'"') return;
        ++p;
        m_aAttributes[m_nAttributes++].iValue = static_cast<ULONG>(p - xml);
        if (m_nAttributes >= kMaxAttributes) return;
        p += wcslen(p) + 1;
    }
}

// ---------------------------------------------------------------- CXmlParser

CXmlParser::CXmlParser(LPCWSTR text)
    : m_pstrXML(nullptr), m_pElements(nullptr), m_nElements(0), m_nReservedElements(0),
      m_szErrorMsg(), m_szErrorXML(), m_bPreserveWhitespace(true)
{
    if (text) Load(text);
}

CXmlParser::~CXmlParser() { Release(); }

void CXmlParser::Release()
{
    std::free(m_pstrXML);
    std::free(m_pElements);
    m_pstrXML = nullptr;
    m_pElements = nullptr;
    m_nElements = 0;
    m_nReservedElements = 0;
}

CXmlNode CXmlParser::GetRoot()
{
    if (m_nElements < 2) return CXmlNode();
    return CXmlNode(this, 1);
}

bool CXmlParser::Failed(LPCWSTR message, LPCWSTR location)
{
    CopyCut(m_szErrorMsg, sizeof(m_szErrorMsg) / sizeof(m_szErrorMsg[0]), message);
    CopyCut(m_szErrorXML, sizeof(m_szErrorXML) / sizeof(m_szErrorXML[0]), location ? location : L"");
    return false;
}

bool CXmlParser::Load(LPCWSTR text)
{
    Release();
    if (!text) text = L"";
    const size_t units = wcslen(text) + 1;
    LPWSTR copy = static_cast<LPWSTR>(std::malloc(units * sizeof(wchar_t)));
    if (!copy) return Failed(L"Out of memory", L"");
    std::memcpy(copy, text, units * sizeof(wchar_t));
    return TakeText(copy);
}

bool CXmlParser::TakeText(LPWSTR text)
{
    Release();
    m_pstrXML = text;
    return Parse();
}

bool CXmlParser::LoadFromMem(const void* bytes, size_t count, int encoding)
{
    Release();
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    if (!p) count = 0;
    LPWSTR text = nullptr;
    if (encoding == kUtf8 || encoding == kAnsi) {
        const UINT codePage = encoding == kUtf8 ? CP_UTF8 : CP_ACP;
        if (encoding == kUtf8 && count > 2 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
            p += 3;
            count -= 3;
        }
        if (count > static_cast<size_t>(INT_MAX)) return Failed(L"File too large", L"");
        int units = 0;
        if (count > 0) {
            units = MultiByteToWideChar(codePage, 0, reinterpret_cast<const char*>(p), static_cast<int>(count),
                                        nullptr, 0);
            if (units <= 0) return Failed(L"Could not convert text", L"");
        }
        text = static_cast<LPWSTR>(std::malloc((static_cast<size_t>(units) + 1) * sizeof(wchar_t)));
        if (!text) return Failed(L"Out of memory", L"");
        if (units > 0) {
            MultiByteToWideChar(codePage, 0, reinterpret_cast<const char*>(p), static_cast<int>(count), text,
                                units);
        }
        text[units] = L'\0';
    } else {
        const bool bigEndian = count >= 2 && p[0] == 0xFE && p[1] == 0xFF;
        const bool littleEndian = count >= 2 && p[0] == 0xFF && p[1] == 0xFE;
        if (!bigEndian && !littleEndian) return Failed(L"", L"");
        const size_t units = count / 2 - 1;
        text = static_cast<LPWSTR>(std::malloc((units + 1) * sizeof(wchar_t)));
        if (!text) return Failed(L"Out of memory", L"");
        const unsigned char* q = p + 2;
        for (size_t i = 0; i < units; ++i, q += 2) {
            text[i] = bigEndian ? static_cast<wchar_t>(q[0] << 8 | q[1]) : static_cast<wchar_t>(q[1] << 8 | q[0]);
        }
        text[units] = L'\0';
    }
    return TakeText(text);
}

bool CXmlParser::LoadFromFile(LPCWSTR name, int encoding)
{
    return LoadFromSource(GetSkinSource(), name, encoding);
}

bool CXmlParser::LoadFromSource(const SkinSource& source, LPCWSTR name, int encoding)
{
    Release();
    SkinFileBytes bytes;
    LPCWSTR error = L"";
    if (!ReadSkinFile(source, name, kMaxSkinTextFile, bytes, error)) return Failed(error, L"");
    return LoadFromMem(bytes.data.get(), bytes.size, encoding);
}

bool CXmlParser::Parse()
{
    m_szErrorMsg[0] = L'\0';
    m_szErrorXML[0] = L'\0';
    if (!ReserveElement()) {   // element 0 is reserved: index 0 means "none"
        Failed(L"Out of memory", L"");
        Release();
        return false;
    }
    LPWSTR p = m_pstrXML;
    const bool ok = ParseLevel(p, 0, 0);
    if (!ok) Release();
    return ok;
}

CXmlParser::Element* CXmlParser::ReserveElement()
{
    if (m_nElements >= m_nReservedElements) {
        const ULONG grown = m_nReservedElements / 2 + m_nReservedElements + 500;
        if (grown < m_nReservedElements || grown > SIZE_MAX / sizeof(Element)) return nullptr;
        Element* elements = static_cast<Element*>(std::realloc(m_pElements, grown * sizeof(Element)));
        if (!elements) return nullptr;
        m_pElements = elements;
        m_nReservedElements = grown;
    }
    Element* el = &m_pElements[m_nElements++];
    std::memset(el, 0, sizeof(*el));
    return el;
}

void CXmlParser::SkipWhitespace(LPWSTR& p) const
{
    while (IsBlank(*p)) ++p;
}

void CXmlParser::SkipWhitespace(LPCWSTR& p) const
{
    while (IsBlank(*p)) ++p;
}

void CXmlParser::SkipIdentifier(LPWSTR& p) const
{
    while (*p && IsIdentifierChar(*p)) ++p;
}

void CXmlParser::SkipIdentifier(LPCWSTR& p) const
{
    while (*p && IsIdentifierChar(*p)) ++p;
}

bool CXmlParser::ParseLevel(LPWSTR& p, ULONG parent, int depth)
{
    SkipWhitespace(p);
    ULONG previous = 0;
    for (;;) {
        if (*p == L'\0' && parent <= 1) return true;
        SkipWhitespace(p);
        if (*p != L'<') return Failed(L"Expected start tag", p);
        if (p[1] == L'/') return true;
        *p++ = L'\0';
        SkipWhitespace(p);
        if (*p == L'!' || *p == L'?') {
            // Comments end at "->", processing instructions at "?>".
            const wchar_t closing = *p == L'!' ? L'-' : L'?';
            LPWSTR start = p;
            while (*p && !(p[0] == closing && p[1] == L'>')) ++p;
            if (*p == L'\0') return Failed(L"Unterminated comment or processing instruction", start);
            p += 2;
            SkipWhitespace(p);
            continue;
        }
        SkipWhitespace(p);

        Element* el = ReserveElement();
        if (!el) return Failed(L"Out of memory", p);
        const ULONG pos = static_cast<ULONG>(el - m_pElements);
        el->iStart = static_cast<ULONG>(p - m_pstrXML);
        el->iParent = parent;
        if (previous != 0) m_pElements[previous].iNext = pos;
        else if (parent > 0) m_pElements[parent].iChild = pos;
        previous = pos;

        LPWSTR name = p;
        SkipIdentifier(p);
        LPWSTR nameEnd = p;
        if (*p == L'\0') return Failed(L"Error parsing element name", p);
        if (!ParseAttributes(p)) return false;
        SkipWhitespace(p);
        if (p[0] == L'/' && p[1] == L'>') {
            m_pElements[pos].iData = static_cast<ULONG>(p - m_pstrXML);
            *p = L'\0';
            p += 2;
        } else {
            if (*p != L'>') return Failed(L"Expected start-tag closing", p);
            ++p;
            m_pElements[pos].iData = static_cast<ULONG>(p - m_pstrXML);
            LPWSTR dest = p;
            if (!ParseData(p, dest, L'<')) return false;
            if (*p == L'\0' && parent <= 1) {
                // The document may end inside the first element or one of its children.
                *dest = L'\0';
                *nameEnd = L'\0';
                return true;
            }
            if (*p != L'<') return Failed(L"Expected end-tag start", p);
            if (p[1] != L'/') {
                if (depth + 1 >= kMaxDepth) return Failed(L"Elements nested too deeply", p);
                if (!ParseLevel(p, pos, depth + 1)) return false;
            }
            if (p[0] == L'<' && p[1] == L'/') {
                *dest = L'\0';
                *p = L'\0';
                p += 2;
                SkipWhitespace(p);
                const size_t nameLength = static_cast<size_t>(nameEnd - name);
                if (wcsncmp(p, name, nameLength) != 0) return Failed(L"Unmatched closing tag", p);
                p += nameLength;
                SkipWhitespace(p);
                if (*p != L'>') return Failed(L"Unmatched closing tag", p);
                ++p;
            }
        }
        *nameEnd = L'\0';
        SkipWhitespace(p);
    }
}

bool CXmlParser::ParseAttributes(LPWSTR& p)
{
    if (p[0] == L'>' || (p[0] == L'/' && p[1] == L'>')) return true;
    *p++ = L'\0';
    SkipWhitespace(p);
    while (*p && *p != L'>' && *p != L'/') {
        SkipIdentifier(p);
        LPWSTR nameEnd = p;
        SkipWhitespace(p);
        if (*p != L'=') return Failed(L"Error while parsing attributes", p);
        *p++ = L' ';
        *nameEnd = L'\0';
        SkipWhitespace(p);
        if (*p != L'"') return Failed(L"Expected attribute value", p);
        ++p;
        LPWSTR dest = p;
        if (!ParseData(p, dest, L'"')) return false;
        if (*p == L'\0') return Failed(L"Error while parsing attribute string", p);
        *dest = L'\0';
        if (p != dest) *p = L' ';
        ++p;
        SkipWhitespace(p);
    }
    return true;
}

bool CXmlParser::ParseData(LPWSTR& p, LPWSTR& dest, wchar_t end)
{
    while (*p && *p != end) {
        if (*p == L'&') {
            while (*p == L'&') {
                ++p;
                ParseMetaChar(p, dest);
            }
            continue;
        }
        if (*p == L' ') {
            *dest++ = *p++;
            if (!m_bPreserveWhitespace) SkipWhitespace(p);
        } else {
            *dest++ = *p++;
        }
    }
    // Blanks over what decoding freed, so that attribute mapping walks over it.
    for (LPWSTR fill = dest; fill < p; ++fill) *fill = L' ';
    return true;
}

void CXmlParser::ParseMetaChar(LPWSTR& p, LPWSTR& dest)
{
    static const struct {
        const wchar_t* name;
        size_t length;
        wchar_t value;
    } kEntities[] = {
        {L"amp;", 4, L'&'}, {L"lt;", 3, L'<'}, {L"gt;", 3, L'>'}, {L"quot;", 5, L'"'}, {L"apos;", 5, L'\''},
    };
    for (const auto& entity : kEntities) {
        if (wcsncmp(p, entity.name, entity.length) == 0) {
            *dest++ = entity.value;
            p += entity.length;
            return;
        }
    }
    *dest++ = L'&';
}

}  // namespace SkinUI

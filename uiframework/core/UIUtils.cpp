// The framework's small value and container types: strings with an inline buffer,
// pointer and value arrays, the string map, geometry.
#include "UIUtils.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

namespace SkinUI {

namespace UIMemory {
namespace {
int g_failAfter = -1;
}

void* Realloc(void* block, size_t bytes)
{
    if (g_failAfter == 0) return nullptr;
    if (g_failAfter > 0) --g_failAfter;
    return std::realloc(block, bytes);
}

void Free(void* block) { std::free(block); }

void FailAfter(int count) { g_failAfter = count; }
}  // namespace UIMemory

namespace {

// Out of memory in strings and maps is not recoverable for the UI: end the process.
wchar_t* AllocChars(size_t count)
{
    if (count > SIZE_MAX / sizeof(wchar_t)) std::abort();
    void* p = std::malloc(count * sizeof(wchar_t));
    if (!p) std::abort();
    return static_cast<wchar_t*>(p);
}

int TextLength(LPCWSTR text)
{
    if (!text) return 0;
    size_t n = wcslen(text);
    if (n > static_cast<size_t>(INT_MAX - 1)) std::abort();
    return static_cast<int>(n);
}

}  // namespace

// ---------------------------------------------------------------- CUIRect

void CUIRect::Union(const RECT& other)
{
    if (other.left < left) left = other.left;
    if (other.top < top) top = other.top;
    if (other.right > right) right = other.right;
    if (other.bottom > bottom) bottom = other.bottom;
}

// ---------------------------------------------------------------- CUIString

CUIString::CUIString() : m_pstr(m_szBuffer) { m_szBuffer[0] = L'\0'; }

CUIString::CUIString(const CUIString& other) : m_pstr(m_szBuffer)
{
    m_szBuffer[0] = L'\0';
    AssignText(other.m_pstr, -1);
}

CUIString::CUIString(LPCWSTR text, int length) : m_pstr(m_szBuffer)
{
    m_szBuffer[0] = L'\0';
    AssignText(text, length);
}

CUIString::CUIString(wchar_t c) : m_pstr(m_szBuffer)
{
    m_szBuffer[0] = c;
    m_szBuffer[1] = L'\0';
}

CUIString::~CUIString() { FreeHeap(); }

void CUIString::FreeHeap()
{
    if (m_pstr != m_szBuffer) {
        std::free(m_pstr);
        m_pstr = m_szBuffer;
    }
}

CUIString& CUIString::operator=(const CUIString& other)
{
    if (this != &other) AssignText(other.m_pstr, -1);
    return *this;
}

void CUIString::AssignText(LPCWSTR text, int length)
{
    if (!text) text = L"";
    if (length < 0) length = TextLength(text);
    else {
        // Never read past the source's terminator.
        const wchar_t* end = wmemchr(text, L'\0', static_cast<size_t>(length));
        if (end) length = static_cast<int>(end - text);
    }
    if (length > kMaxInline) {
        if (m_pstr != m_szBuffer && GetLength() >= length) {
            wmemmove(m_pstr, text, length);   // the source may lie in this very block
        } else {
            wchar_t* block = AllocChars(static_cast<size_t>(length) + 1);
            wmemcpy(block, text, length);
            FreeHeap();
            m_pstr = block;
        }
    } else {
        wmemmove(m_szBuffer, text, length);
        FreeHeap();
    }
    m_pstr[length] = L'\0';
}

void CUIString::Append(LPCWSTR text)
{
    if (!text) return;
    const int present = GetLength();
    const int added = TextLength(text);
    if (added > INT_MAX - 1 - present) std::abort();
    const int total = present + added;
    if (total > kMaxInline) {
        // Always a fresh block: the appended text may lie inside the old one.
        wchar_t* block = AllocChars(static_cast<size_t>(total) + 1);
        wmemcpy(block, m_pstr, present);
        wmemcpy(block + present, text, added);
        block[total] = L'\0';
        FreeHeap();
        m_pstr = block;
        return;
    }
    if (m_pstr != m_szBuffer) {
        wchar_t* old = m_pstr;
        wmemcpy(m_szBuffer, old, present);
        wmemmove(m_szBuffer + present, text, added);
        std::free(old);
        m_pstr = m_szBuffer;
    } else {
        wmemmove(m_szBuffer + present, text, added);
    }
    m_pstr[total] = L'\0';
}

void CUIString::AppendChar(wchar_t c)
{
    const wchar_t text[2] = {c, L'\0'};
    Append(text);
}

CUIString CUIString::Concat(LPCWSTR text) const
{
    CUIString result(*this);
    result.AppendText(text);
    return result;
}

bool CUIString::Equals(LPCWSTR text) const { return wcscmp(m_pstr, text ? text : L"") == 0; }

int CUIString::CompareNoCase(LPCWSTR text) const { return lstrcmpiW(m_pstr, text ? text : L""); }

int CUIString::GetLength() const { return static_cast<int>(wcslen(m_pstr)); }

void CUIString::Empty()
{
    FreeHeap();
    m_szBuffer[0] = L'\0';
}

int CUIString::FindChar(wchar_t c, int start) const
{
    const int length = GetLength();
    if (start != 0 && (start < 0 || start >= length)) return -1;
    const wchar_t* p = wcschr(m_pstr + start, c);
    if (!p || c == L'\0') return -1;
    return static_cast<int>(p - m_pstr);
}

int CUIString::FindText(LPCWSTR text, int start) const
{
    if (!text) return -1;
    const int length = GetLength();
    if (start != 0 && (start < 0 || start > length)) return -1;
    // Searched by hand: an empty text is found at `start` itself.
    const size_t n = wcslen(text);
    for (int i = start; i + static_cast<int>(n) <= length; ++i) {
        if (wcsncmp(m_pstr + i, text, n) == 0) return i;
    }
    return -1;
}

int CUIString::ReverseFindChar(wchar_t c) const
{
    if (c == L'\0') return -1;
    const wchar_t* p = wcsrchr(m_pstr, c);
    return p ? static_cast<int>(p - m_pstr) : -1;
}

CUIString CUIString::Left(int n) const
{
    const int length = GetLength();
    if (n < 0) n = 0;
    if (n > length) n = length;
    return CUIString(m_pstr, n);
}

CUIString CUIString::Mid(int start, int n) const
{
    const int length = GetLength();
    if (start < 0 || start > length) return CUIString();
    if (n < 0 || n > length - start) n = length - start;
    return CUIString(m_pstr + start, n);
}

void CUIString::MakeLower() { CharLowerW(m_pstr); }

int CUIString::Replace(LPCWSTR from, LPCWSTR to)
{
    if (!from || !*from) return 0;
    if (!to) to = L"";
    const int fromLength = TextLength(from);
    CUIString result;
    int count = 0;
    const wchar_t* p = m_pstr;
    for (;;) {
        const wchar_t* hit = wcsstr(p, from);   // `from` is never empty here
        if (!hit) break;
        CUIString piece(p, static_cast<int>(hit - p));
        result.AppendString(piece);
        result.Append(to);
        p = hit + fromLength;   // the search goes on behind the inserted text
        ++count;
    }
    if (count == 0) return 0;
    result.Append(p);
    *this = result;
    return count;
}

int CUIString::Format(LPCWSTR format, ...)
{
    wchar_t buffer[kInlineChars] = {};
    if (!format) format = L"";
    va_list args;
    va_start(args, format);
    // Bounded: at most 63 characters are written; the zeroed last one terminates.
    _vsnwprintf(buffer, kInlineChars - 1, format, args);
    va_end(args);
    buffer[kInlineChars - 1] = L'\0';
    Assign(buffer);
    return GetLength();
}

// ---------------------------------------------------------------- CUIPtrArray

CUIPtrArray::CUIPtrArray(int initialCapacity) : m_ppVoid(nullptr), m_nCount(0), m_nAllocated(0)
{
    if (initialCapacity > 0 && static_cast<size_t>(initialCapacity) <= SIZE_MAX / sizeof(void*)) {
        m_ppVoid = static_cast<void**>(UIMemory::Realloc(nullptr, initialCapacity * sizeof(void*)));
        if (m_ppVoid) m_nAllocated = initialCapacity;
    }
}

CUIPtrArray::CUIPtrArray(const CUIPtrArray& other) : m_ppVoid(nullptr), m_nCount(0), m_nAllocated(0)
{
    for (int i = 0; i < other.GetSize(); ++i) Add(other.ItemAt(i));
}

CUIPtrArray& CUIPtrArray::operator=(const CUIPtrArray& other)
{
    if (this != &other) {
        Empty();
        for (int i = 0; i < other.GetSize(); ++i) Add(other.ItemAt(i));
    }
    return *this;
}

CUIPtrArray::~CUIPtrArray() { Empty(); }

void CUIPtrArray::Empty()
{
    UIMemory::Free(m_ppVoid);
    m_ppVoid = nullptr;
    m_nCount = m_nAllocated = 0;
}

bool CUIPtrArray::Resize(int n)
{
    Empty();
    if (n <= 0) return true;
    if (static_cast<size_t>(n) > SIZE_MAX / sizeof(void*)) return false;
    m_ppVoid = static_cast<void**>(UIMemory::Realloc(nullptr, n * sizeof(void*)));
    if (!m_ppVoid) return false;
    std::memset(m_ppVoid, 0, n * sizeof(void*));
    m_nCount = m_nAllocated = n;
    return true;
}

int CUIPtrArray::Find(void* item) const
{
    for (int i = 0; i < m_nCount; ++i) {
        if (m_ppVoid[i] == item) return i;
    }
    return -1;
}

// Called with the count already raised; restores it when the storage cannot grow.
bool CUIPtrArray::Grow()
{
    if (m_nCount < m_nAllocated) return true;
    int capacity = m_nAllocated == 0 ? 11 : m_nAllocated;
    if (m_nAllocated != 0) {
        if (m_nAllocated > INT_MAX / 2) { --m_nCount; return false; }
        capacity = m_nAllocated * 2;
    }
    if (static_cast<size_t>(capacity) > SIZE_MAX / sizeof(void*)) { --m_nCount; return false; }
    void** grown = static_cast<void**>(UIMemory::Realloc(m_ppVoid, capacity * sizeof(void*)));
    if (!grown) { --m_nCount; return false; }
    m_ppVoid = grown;
    m_nAllocated = capacity;
    return true;
}

bool CUIPtrArray::Add(void* item)
{
    if (m_nCount == INT_MAX) return false;
    ++m_nCount;
    if (!Grow()) return false;
    m_ppVoid[m_nCount - 1] = item;
    return true;
}

bool CUIPtrArray::InsertAt(int index, void* item)
{
    if (index == m_nCount) return Add(item);
    if (index < 0 || index > m_nCount) return false;
    ++m_nCount;
    if (!Grow()) return false;
    std::memmove(&m_ppVoid[index + 1], &m_ppVoid[index], (m_nCount - index - 1) * sizeof(void*));
    m_ppVoid[index] = item;
    return true;
}

bool CUIPtrArray::SetAt(int index, void* item)
{
    if (index < 0 || index >= m_nCount) return false;
    m_ppVoid[index] = item;
    return true;
}

bool CUIPtrArray::Remove(int index, int count)
{
    if (index < 0 || count <= 0 || count > m_nCount - index) return false;
    const int behind = m_nCount - index - count;
    if (behind > 0) std::memmove(&m_ppVoid[index], &m_ppVoid[index + count], behind * sizeof(void*));
    m_nCount -= count;
    return true;
}

void* CUIPtrArray::GetAt(int index) const
{
    if (index < 0 || index >= m_nCount) return nullptr;
    return m_ppVoid[index];
}

// ---------------------------------------------------------------- CUIValArray

CUIValArray::CUIValArray(int elementSize, int initialCapacity)
    : m_pVoid(nullptr), m_iElementSize(elementSize > 0 ? elementSize : 1), m_nCount(0), m_nAllocated(0)
{
    if (initialCapacity > 0 && static_cast<size_t>(initialCapacity) <= SIZE_MAX / m_iElementSize) {
        m_pVoid = static_cast<unsigned char*>(
            UIMemory::Realloc(nullptr, static_cast<size_t>(initialCapacity) * m_iElementSize));
        if (m_pVoid) m_nAllocated = initialCapacity;
    }
}

CUIValArray::~CUIValArray() { Empty(); }

void CUIValArray::Empty()
{
    UIMemory::Free(m_pVoid);
    m_pVoid = nullptr;
    m_nCount = m_nAllocated = 0;
}

bool CUIValArray::Add(const void* element)
{
    if (m_nCount == INT_MAX) return false;
    ++m_nCount;
    if (m_nCount >= m_nAllocated) {
        int capacity = 11;
        if (m_nAllocated != 0) {
            if (m_nAllocated > INT_MAX / 2) { --m_nCount; return false; }
            capacity = m_nAllocated * 2;
        }
        if (static_cast<size_t>(capacity) > SIZE_MAX / m_iElementSize) { --m_nCount; return false; }
        unsigned char* grown = static_cast<unsigned char*>(
            UIMemory::Realloc(m_pVoid, static_cast<size_t>(capacity) * m_iElementSize));
        if (!grown) { --m_nCount; return false; }
        m_pVoid = grown;
        m_nAllocated = capacity;
    }
    std::memcpy(GetAt(m_nCount - 1), element, m_iElementSize);
    return true;
}

bool CUIValArray::Remove(int index, int count)
{
    if (index < 0 || count <= 0 || count > m_nCount - index) return false;
    const int behind = m_nCount - index - count;
    if (behind > 0) {
        std::memmove(GetAt(index), GetAt(index + count), static_cast<size_t>(behind) * m_iElementSize);
    }
    m_nCount -= count;
    return true;
}

// ---------------------------------------------------------------- CUIStringMap

CUIStringMap::CUIStringMap(int buckets) : m_aT(nullptr), m_nBuckets(0), m_nCount(0)
{
    Resize(buckets < 16 ? 16 : buckets);
}

CUIStringMap::~CUIStringMap()
{
    FreeNodes();
    delete[] m_aT;
}

unsigned int CUIStringMap::HashKey(LPCWSTR key)
{
    unsigned int h = 0;
    if (!key) return 0;
    for (size_t i = wcslen(key); i > 0; --i) h = static_cast<unsigned int>(key[i - 1]) + 33u * h;
    return h;
}

void CUIStringMap::FreeNodes()
{
    for (int i = 0; i < m_nBuckets; ++i) {
        Node* node = m_aT[i];
        while (node) {
            Node* next = node->next;
            delete node;
            node = next;
        }
        m_aT[i] = nullptr;
    }
    m_nCount = 0;
}

void CUIStringMap::Resize(int buckets)
{
    FreeNodes();
    delete[] m_aT;
    m_aT = nullptr;
    m_nBuckets = 0;
    if (buckets <= 0) return;
    m_aT = new Node*[buckets]();
    m_nBuckets = buckets;
}

void* CUIStringMap::Find(LPCWSTR key, bool moveToFront) const
{
    if (m_nBuckets == 0 || m_nCount == 0 || !key) return nullptr;
    const unsigned int slot = HashKey(key) % static_cast<unsigned int>(m_nBuckets);
    for (Node* node = m_aT[slot]; node; node = node->next) {
        if (!node->key.Equals(key)) continue;
        if (moveToFront && node != m_aT[slot]) {
            node->prev->next = node->next;
            if (node->next) node->next->prev = node->prev;
            node->prev = nullptr;
            node->next = m_aT[slot];
            m_aT[slot]->prev = node;
            m_aT[slot] = node;
        }
        return node->value;
    }
    return nullptr;
}

bool CUIStringMap::Insert(LPCWSTR key, void* value)
{
    if (m_nBuckets == 0 || !key) return false;
    if (Find(key)) return false;
    // Find answers null also for a present key whose value is null: look again.
    const unsigned int slot = HashKey(key) % static_cast<unsigned int>(m_nBuckets);
    for (Node* node = m_aT[slot]; node; node = node->next) {
        if (node->key.Equals(key)) return false;
    }
    Node* node = new Node{CUIString(key), value, nullptr, m_aT[slot]};
    if (m_aT[slot]) m_aT[slot]->prev = node;
    m_aT[slot] = node;
    ++m_nCount;
    return true;
}

void* CUIStringMap::Set(LPCWSTR key, void* value)
{
    if (m_nBuckets == 0 || !key) return value;
    const unsigned int slot = HashKey(key) % static_cast<unsigned int>(m_nBuckets);
    for (Node* node = m_aT[slot]; node; node = node->next) {
        if (node->key.Equals(key)) {
            void* old = node->value;
            node->value = value;
            return old;
        }
    }
    Insert(key, value);
    return nullptr;
}

bool CUIStringMap::Remove(LPCWSTR key)
{
    if (m_nBuckets == 0 || m_nCount == 0 || !key) return false;
    const unsigned int slot = HashKey(key) % static_cast<unsigned int>(m_nBuckets);
    for (Node* node = m_aT[slot]; node; node = node->next) {
        if (!node->key.Equals(key)) continue;
        if (node->prev) node->prev->next = node->next;
        else m_aT[slot] = node->next;
        if (node->next) node->next->prev = node->prev;
        delete node;
        --m_nCount;
        return true;
    }
    return false;
}

LPCWSTR CUIStringMap::GetKeyAt(int n) const
{
    if (n < 0) return nullptr;
    int seen = 0;
    for (int i = m_nBuckets - 1; i >= 0; --i) {
        for (Node* node = m_aT[i]; node; node = node->next) {
            if (seen++ == n) return node->key.GetData();
        }
    }
    return nullptr;
}

}  // namespace SkinUI

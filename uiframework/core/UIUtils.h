// Small value and container types of the skinned UI framework: strings, arrays,
// the string-keyed map, resource names and geometry. None of them is thread-safe;
// they live on the UI thread.
#pragma once

#include <windows.h>

#include <cstddef>

namespace SkinUI {

// Every allocation of the framework's own containers goes through here, so that
// tests can make the N-th one fail.
namespace UIMemory {
void* Realloc(void* block, size_t bytes);
void Free(void* block);
// After `count` more successful allocations every further one fails; -1 = never.
void FailAfter(int count);
}  // namespace UIMemory

// A resource name or a 16-bit resource id in one pointer-sized word.
class CUIStringOrId {
public:
    explicit CUIStringOrId(LPCWSTR name) : m_lpstr(name) {}
    explicit CUIStringOrId(UINT id) : m_lpstr(MAKEINTRESOURCEW(LOWORD(id))) {}
    LPCWSTR m_lpstr;
};

class CUIPoint : public tagPOINT {
public:
    CUIPoint() { x = y = 0; }
    CUIPoint(const POINT& src) { x = src.x; y = src.y; }
    CUIPoint(int px, int py) { x = px; y = py; }
};

class CUISize : public tagSIZE {
public:
    CUISize() { cx = cy = 0; }
    CUISize(const SIZE& src) { cx = src.cx; cy = src.cy; }
    CUISize(int w, int h) { cx = w; cy = h; }
};

// Same layout as a system RECT, so it passes wherever one is expected.
class CUIRect : public tagRECT {
public:
    CUIRect() { left = top = right = bottom = 0; }
    CUIRect(const RECT& src) { left = src.left; top = src.top; right = src.right; bottom = src.bottom; }
    CUIRect(int l, int t, int r, int b) { left = l; top = t; right = r; bottom = b; }

    int GetWidth() const { return right - left; }
    int GetHeight() const { return bottom - top; }
    void Union(const RECT& other);
    void Offset(int dx, int dy) { left += dx; right += dx; top += dy; bottom += dy; }
    void MoveToOrigin() { Offset(-left, -top); }
};

// A wide string that keeps up to 62 characters inline and longer texts on the heap.
class CUIString {
public:
    enum { kInlineChars = 64, kMaxInline = 62 };

    CUIString();
    CUIString(const CUIString& other);
    CUIString(LPCWSTR text, int length = -1);
    explicit CUIString(wchar_t c);
    ~CUIString();

    void Assign(LPCWSTR text) { AssignText(text, -1); }
    void AssignText(LPCWSTR text, int length = -1);
    void Append(LPCWSTR text);
    void AppendString(const CUIString& other) { Append(other.GetData()); }
    void AppendText(LPCWSTR text) { if (text) Append(text); }
    void AppendChar(wchar_t c);
    CUIString Concat(LPCWSTR text) const;

    bool Equals(LPCWSTR text) const;
    bool NotEquals(LPCWSTR text) const { return !Equals(text); }
    int CompareNoCase(LPCWSTR text) const;

    int GetLength() const;
    bool IsEmpty() const { return m_pstr[0] == L'\0'; }
    LPCWSTR GetData() const { return m_pstr; }
    wchar_t CharAt(int index) const { return m_pstr[index]; }
    void Empty();

    int FindChar(wchar_t c, int start = 0) const;
    int FindText(LPCWSTR text, int start = 0) const;
    int ReverseFindChar(wchar_t c) const;

    CUIString Left(int n) const;
    CUIString Mid(int start, int n = -1) const;
    void MakeLower();
    int Replace(LPCWSTR from, LPCWSTR to);
    // Formats into 64 characters at most; longer output is cut at 63.
    int Format(LPCWSTR format, ...);
    CUIString Clone() const { return *this; }

    // True while the text lives in the inline buffer.
    bool IsInline() const { return m_pstr == m_szBuffer; }

    CUIString& operator=(const CUIString& other);
    CUIString& operator=(LPCWSTR text) { Assign(text); return *this; }
    CUIString& operator+=(const CUIString& other) { AppendString(other); return *this; }
    CUIString& operator+=(LPCWSTR text) { AppendText(text); return *this; }
    CUIString& operator+=(wchar_t c) { AppendChar(c); return *this; }
    CUIString operator+(LPCWSTR text) const { return Concat(text); }
    CUIString operator+(const CUIString& other) const { return Concat(other.GetData()); }
    bool operator==(LPCWSTR text) const { return Equals(text); }
    bool operator!=(LPCWSTR text) const { return !Equals(text); }
    operator LPCWSTR() const { return m_pstr; }

private:
    void FreeHeap();

    LPWSTR m_pstr;
    wchar_t m_szBuffer[kInlineChars];
};

// Growable array of untyped pointers; it does not own what they point to.
class CUIPtrArray {
public:
    explicit CUIPtrArray(int initialCapacity = 0);
    CUIPtrArray(const CUIPtrArray& other);
    CUIPtrArray& operator=(const CUIPtrArray& other);
    ~CUIPtrArray();

    void Empty();
    bool Resize(int n);
    bool IsEmpty() const { return m_nCount == 0; }
    int GetSize() const { return m_nCount; }
    int GetCapacity() const { return m_nAllocated; }
    int Find(void* item) const;
    bool Add(void* item);
    bool InsertAt(int index, void* item);
    bool SetAt(int index, void* item);
    bool Remove(int index, int count = 1);
    void* GetAt(int index) const;
    void* ItemAt(int index) const { return m_ppVoid[index]; }
    void* operator[](int index) const { return GetAt(index); }

private:
    bool Grow();

    void** m_ppVoid;
    int m_nCount;
    int m_nAllocated;
};

// Growable array of fixed-size values, copied in and out bytewise.
class CUIValArray {
public:
    CUIValArray(int elementSize, int initialCapacity = 0);
    ~CUIValArray();
    CUIValArray(const CUIValArray&) = delete;
    CUIValArray& operator=(const CUIValArray&) = delete;

    void Empty();
    bool IsEmpty() const { return m_nCount == 0; }
    int GetSize() const { return m_nCount; }
    int GetCapacity() const { return m_nAllocated; }
    bool Add(const void* element);
    bool Remove(int index, int count = 1);
    void* GetAt(int index) const { return m_pVoid + static_cast<size_t>(index) * m_iElementSize; }

private:
    unsigned char* m_pVoid;
    int m_iElementSize;
    int m_nCount;
    int m_nAllocated;
};

// String-keyed hash map of untyped pointers (values are not owned).
class CUIStringMap {
public:
    explicit CUIStringMap(int buckets = 83);
    ~CUIStringMap();
    CUIStringMap(const CUIStringMap&) = delete;
    CUIStringMap& operator=(const CUIStringMap&) = delete;

    static unsigned int HashKey(LPCWSTR key);

    void Resize(int buckets = 83);
    void RemoveAll() { Resize(m_nBuckets); }
    void* Find(LPCWSTR key, bool moveToFront = true) const;
    bool Insert(LPCWSTR key, void* value);
    void* Set(LPCWSTR key, void* value);
    bool Remove(LPCWSTR key);
    LPCWSTR GetKeyAt(int n) const;
    int GetSize() const { return m_nCount; }
    int GetBucketCount() const { return m_nBuckets; }

private:
    struct Node {
        CUIString key;
        void* value;
        Node* prev;
        Node* next;
    };
    void FreeNodes();

    Node** m_aT;
    int m_nBuckets;
    int m_nCount;
};

}  // namespace SkinUI

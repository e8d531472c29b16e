// Benchmark (not a test): opens a 7z skin of about 5 MB and reads every item,
// the way the installer does at start-up. Prints the figures for run-bench.sh,
// which sets them beside `7zz t` on the same archive.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "SkinArchive7z.h"

using namespace SkinUI;

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: uiframework_bench <skin.7z> [rounds]\n");
        return 2;
    }
    const int rounds = argc > 2 ? _wtoi(argv[2]) : 3;
    HANDLE h = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 1;
    LARGE_INTEGER size;
    GetFileSizeEx(h, &size);
    std::vector<unsigned char> bytes(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(h);

    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    double best = 1e30;
    unsigned long long total = 0;
    int items = 0;
    for (int r = 0; r < rounds; ++r) {
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        HSKINARCHIVE7Z a = CSkinArchive7z::OpenFromMemory(bytes.data(), bytes.size());
        if (!a) return 1;
        total = 0;
        items = CSkinArchive7z::GetItemCount(a);
        std::vector<unsigned char> out;
        for (int i = 0; i < items; ++i) {
            int index = -1;
            UInt64 n = 0;
            if (CSkinArchive7z::FindItem(a, CSkinArchive7z::GetItemName(a, i), &index, &n) != 0) return 1;
            out.resize(static_cast<size_t>(n) + 1);
            CSkinArchive7z::CopyItem(a, index, out.data());
            total += n;
        }
        CSkinArchive7z::Close(a);
        QueryPerformanceCounter(&t1);
        const double ms = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(freq.QuadPart);
        if (ms < best) best = ms;
    }
    std::printf("archive_bytes=%llu items=%d unpacked_bytes=%llu best_ms=%.1f\n",
                static_cast<unsigned long long>(bytes.size()), items, total, best);
    return 0;
}

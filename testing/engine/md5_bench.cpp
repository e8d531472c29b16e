// MD5 throughput of the engine's digest over a file: md5-bench FILE
// Prints the digest and MB/s (the read and the digest, as the downloader does them).
#include <windows.h>

#include <cstdio>

#include "Md5.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: md5-bench FILE\n");
        return 2;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(argv[1], GetFileExInfoStandard, &data)) return 2;
    double bytes = double(uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow);
    LARGE_INTEGER f, a, b;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&a);
    std::string digest = Md5(argv[1]);
    ::QueryPerformanceCounter(&b);
    double s = double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
    std::printf("%s %.1f MB/s %.3f s\n", digest.c_str(), bytes / 1e6 / s, s);
    return digest.empty() ? 1 : 0;
}

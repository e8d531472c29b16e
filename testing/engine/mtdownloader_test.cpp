// The two-range downloader's rules: the split, the reading of a reply's headers, and
// which replies may fill a part.
#include <gtest/gtest.h>

#include <vector>

#include "MTCurlDownloader.h"

namespace {

using Range = CMTCurlDownloader::Range;
using ReplyHead = CMTCurlDownloader::ReplyHead;

TEST(MTSplit, OneRangeBelowTwoUnitsElseTwo)
{
    const int64_t unit = CMTCurlDownloader::kPartUnit;
    struct { int64_t length; bool single; std::vector<Range> ranges; } cases[] = {
        {unit - 1, false, {{0, unit - 2}}},
        {unit, false, {{0, unit - 1}}},
        {2 * unit - 1, false, {{0, 2 * unit - 2}}},
        {20971519, false, {{0, 20971518}}},
        {2 * unit, false, {{0, unit - 1}, {unit, 2 * unit - 1}}},
        {26214400, false, {{0, 13107199}, {13107200, 26214399}}},
        {26214401, false, {{0, 13107199}, {13107200, 26214400}}},   // the second one byte longer
        {26214401, true, {{0, 26214400}}},
        {5 * unit, false, {{0, 25 * unit / 10 - 1}, {25 * unit / 10, 5 * unit - 1}}},
        {int64_t(3) << 31, false, {{0, (int64_t(3) << 30) - 1}, {int64_t(3) << 30, (int64_t(3) << 31) - 1}}},
        {256, false, {{0, 255}}},
        {0, false, {}},
    };
    for (const auto& c : cases) {
        const std::vector<Range> got = CMTCurlDownloader::SplitRanges(c.length, c.single);
        EXPECT_TRUE(got == c.ranges) << c.length << (c.single ? " single" : "");
    }
}

ReplyHead HeadOf(std::initializer_list<const char*> lines)
{
    ReplyHead h;
    for (const char* l : lines) CMTCurlDownloader::ReadHeaderLine(l, h);
    return h;
}

TEST(MTReply, HeadersOfTheLastReply)
{
    ReplyHead h = HeadOf({"HTTP/1.1 302 Found\r\n", "Content-Range: bytes 0-9/10\r\n", "\r\n",
                          "HTTP/1.1 206 Partial Content\r\n", "content-range: bytes 13107200-26214400/26214401\r\n",
                          "Content-Encoding: Identity\r\n", "\r\n"});
    EXPECT_EQ(h.status, 206);
    ASSERT_TRUE(h.hasContentRange);
    EXPECT_EQ(h.rangeStart, 13107200);
    EXPECT_EQ(h.rangeLast, 26214400);
    EXPECT_EQ(h.rangeTotal, 26214401);
    EXPECT_EQ(h.contentEncoding, "identity");
    h = HeadOf({"HTTP/1.1 206 Partial Content\r\n", "Content-Range: bytes 5-9/*\r\n"});
    EXPECT_EQ(h.rangeTotal, -1);
    // A redirect's Content-Range does not survive into the reply that follows it.
    EXPECT_FALSE(HeadOf({"HTTP/1.1 302 Found\r\n", "Content-Range: bytes 0-9/10\r\n", "HTTP/1.1 200 OK\r\n"})
                     .hasContentRange);
    for (const char* bad : {"Content-Range: bytes x-9/10", "Content-Range: bytes 5/10", "Content-Range: items 0-9/10",
                            "Content-Range: bytes 9-5", "Content-Range: bytes -1-5/10"})
        EXPECT_FALSE(HeadOf({"HTTP/1.1 206 Partial Content\r\n", bad}).hasContentRange) << bad;
}

TEST(MTReply, OnlyTheBytesAskedForFillAPart)
{
    const int64_t len = 26214401;
    auto h = [](long status, int64_t s, int64_t l, int64_t t, const char* enc = "") {
        ReplyHead r;
        r.status = status;
        r.hasContentRange = s >= 0;
        r.rangeStart = s;
        r.rangeLast = l;
        r.rangeTotal = t;
        r.contentEncoding = enc;
        return r;
    };
    struct { const char* what; ReplyHead head; int64_t rangeStart, writePos; int verdict; } cases[] = {
        {"206 at the write position", h(206, 13107200, 26214400, len), 13107200, 13107200, 0},
        {"206 resumed", h(206, 14155776, 26214400, len), 13107200, 14155776, 0},
        {"206 with an unknown total", h(206, 0, 13107199, -1), 0, 0, 0},
        {"206 from another start", h(206, 13107217, 26214400, len), 13107200, 13107200, CURLE_RANGE_ERROR},
        {"206 without Content-Range", h(206, -1, -1, -1), 13107200, 13107200, CURLE_RANGE_ERROR},
        {"206 of a file of another length", h(206, 13107200, 26214400, len + 1), 13107200, 13107200, CURLE_RANGE_ERROR},
        {"200 to the second part", h(200, -1, -1, -1), 13107200, 13107200, CURLE_RANGE_ERROR},
        {"200 to the first part", h(200, -1, -1, -1), 0, 0, 0},
        {"200 to the first part resumed", h(200, -1, -1, -1), 0, 4096, CMTCurlDownloader::kRestartPart},
        {"gzip nobody asked for", h(206, 0, 13107199, len, "gzip"), 0, 0, CURLE_BAD_CONTENT_ENCODING},
        {"gzip on a whole file", h(200, -1, -1, -1, "gzip"), 0, 0, CURLE_BAD_CONTENT_ENCODING},
        {"identity", h(206, 0, 13107199, len, "identity"), 0, 0, 0},
        {"204", h(204, -1, -1, -1), 0, 0, CURLE_RANGE_ERROR},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CMTCurlDownloader::CheckReply(c.head, c.rangeStart, c.writePos, len), c.verdict) << c.what;
}

}  // namespace

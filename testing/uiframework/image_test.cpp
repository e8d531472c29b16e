// Image loading and drawing: the loader's pixels, the description parser, and each
// image option drawn into a memory canvas, checked pixel by pixel.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "SkinArchive7z.h"
#include "SkinFile.h"
#include "SkinZip.h"
#include "UIRender.h"
#include "draw_support.h"
#include "test_support.h"

using namespace SkinUI;
using uitest::Canvas;
using uitest::ImagePath;
using uitest::TestResources;

namespace {

// nine.png: 12 x 12, nine regions of 4 x 4 (make_images.py).
const unsigned kTL = 0xFF0000, kT = 0x00A000, kTR = 0x0000FF, kL = 0xFFFF00, kM = 0x00FFFF, kR = 0xFF00FF,
               kBL = 0x800000, kB = 0x000080, kBR = 0x404040, kWhite = 0xFFFFFF;
// strip.png: five 20-pixel states, then one remainder column.
const unsigned kStates[5] = {0xC80000, 0x00C800, 0x0000C8, 0xC8C800, 0x00C8C8};

// Every test reads images from the fixture folder unless it says otherwise.
class ImageTest : public ::testing::Test {
protected:
    uitest::ImageFolderSource m_images;
    SkinSource& m_source = m_images.Source();
    std::wstring m_folder = ImagePath(L"");
};

unsigned PremultipliedPixel(const UIImageInfo* image, int x, int y)
{
    const BYTE* p = image->pBits + (static_cast<size_t>(y) * image->nX + x) * 4;
    return static_cast<unsigned>(p[3]) << 24 | static_cast<unsigned>(p[2]) << 16 | static_cast<unsigned>(p[1]) << 8 |
           p[0];
}

struct LoadCase {
    const wchar_t* name;
    const wchar_t* type;
    DWORD mask;
    bool loads;
    int width = 0, height = 0;
    bool alpha = false;
    int x = 0, y = 0;
    unsigned argb = 0;   // premultiplied, alpha on top
};

TEST_F(ImageTest, LoaderDecodesPremultipliedWithAlphaFlagAndMask)
{
    const LoadCase cases[] = {
        // partial transparency: premultiplied, flag on
        {L"alpha.png", nullptr, 0, true, 2, 1, true, 0, 0, 0x80800000},
        {L"alpha.png", nullptr, 0, true, 2, 1, true, 1, 0, 0xFF0000FF},
        // fully opaque: flag off
        {L"opaque.png", nullptr, 0, true, 2, 2, false, 1, 1, 0xFF0A141E},
        // BMP: the opaque magenta mask clears exactly the magenta pixels
        {L"magenta.bmp", nullptr, 0xFFFF00FF, true, 4, 2, true, 0, 0, 0x00000000},
        {L"magenta.bmp", nullptr, 0xFFFF00FF, true, 4, 2, true, 1, 0, 0xFF000000},
        // the same colour without its alpha byte matches nothing
        {L"magenta.bmp", nullptr, 0x00FF00FF, true, 4, 2, false, 0, 0, 0xFFFF00FF},
        // a colour image: one premultiplied pixel, "#" optional
        {L"#80FF0000", L"*COLOR*", 0, true, 1, 1, true, 0, 0, 0x80800000},
        {L"80FF0000", L"*COLOR*", 0, true, 1, 1, true, 0, 0, 0x80800000},
        {L"FF336699", L"*COLOR*", 0, true, 1, 1, false, 0, 0, 0xFF336699},
        // the size limit
        {L"widest.png", nullptr, 0, true, 16384, 1, false, 16383, 0, 0xFF010203},
        {L"toowide.png", nullptr, 0, false},
        // what cannot be had
        {L"missing.png", nullptr, 0, false},
        {L"empty.png", nullptr, 0, false},
        {L"notimage.png", nullptr, 0, false},
        // program resources by number and by name
        {MAKEINTRESOURCEW(101), L"PNG", 0, true, 12, 12, false, 11, 0, 0xFF0000FF},
        {L"NINE", L"PNG", 0xFF0000FF, true, 12, 12, true, 11, 0, 0},
        {L"nine.png", L"PNG", 0, false},   // no such program resource
        {MAKEINTRESOURCEW(101), nullptr, 0, false},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(testing::Message() << (IS_INTRESOURCE(c.name) ? L"#101" : c.name) << " mask " << std::hex
                                        << c.mask);
        UIImageInfo* image = CDrawHelper::LoadImage(CUIStringOrId(c.name), c.type, c.mask);
        ASSERT_EQ(c.loads, image != nullptr);
        if (!image) continue;
        EXPECT_EQ(c.width, image->nX);
        EXPECT_EQ(c.height, image->nY);
        EXPECT_EQ(c.alpha, image->bAlpha);
        EXPECT_EQ(c.mask, image->dwMask);
        EXPECT_FALSE(image->bUseHSL);
        EXPECT_EQ(nullptr, image->pSrcBits);
        EXPECT_EQ(c.argb, PremultipliedPixel(image, c.x, c.y));
        BITMAP bm = {};
        ASSERT_TRUE(GetObjectW(image->hBitmap, sizeof(bm), &bm));
        EXPECT_EQ(32, bm.bmBitsPixel);
        CDrawHelper::FreeImage(image);
    }
}

TEST_F(ImageTest, LoaderReadsFromEverySkinSourceThenFromAPlainPath)
{
    const std::wstring skinFolder = ImagePath(L"skin/");
    const std::wstring zipPath = ImagePath(L"images.zip");
    const std::wstring sevenPath = ImagePath(L"images.7z");
    HSKINZIP zip = CSkinZip::Open(zipPath.c_str(), 0, CSkinZip::kFileName);
    HSKINARCHIVE7Z archive = CSkinArchive7z::OpenFromFile(sevenPath.c_str());
    ASSERT_NE(nullptr, zip);
    ASSERT_NE(nullptr, archive);
    struct Source {
        SkinSourceKind kind;
        const wchar_t* folder;
        const wchar_t* archiveName;
        void* open;
    } sources[] = {
        {SkinSourceKind::Folder, skinFolder.c_str(), L"", nullptr},
        {SkinSourceKind::Zip, m_folder.c_str(), L"images.zip", nullptr},
        {SkinSourceKind::Zip, L"", L"", zip},
        {SkinSourceKind::SevenZip, m_folder.c_str(), L"images.7z", nullptr},
        {SkinSourceKind::SevenZip, L"", L"", archive},
    };
    for (const Source& s : sources) {
        SCOPED_TRACE(static_cast<int>(s.kind));
        m_source.kind = s.kind;
        m_source.resourcePath = s.folder;
        m_source.archiveName = s.archiveName;
        m_source.openArchive = s.open;
        UIImageInfo* image = CDrawHelper::LoadImage(CUIStringOrId(L"res/nine.png"));
        ASSERT_NE(nullptr, image);
        EXPECT_EQ(12, image->nX);
        EXPECT_EQ(0xFF000000 | kBR, PremultipliedPixel(image, 11, 11));
        CDrawHelper::FreeImage(image);
        // Not in the skin: the name is tried as a path of its own.
        const std::wstring plain = ImagePath(L"tile.png");
        image = CDrawHelper::LoadImage(CUIStringOrId(plain.c_str()));
        ASSERT_NE(nullptr, image);
        EXPECT_EQ(3, image->nX);
        CDrawHelper::FreeImage(image);
    }
    CSkinZip::Close(zip);
    CSkinArchive7z::Close(archive);
}

TEST(NumberList, StopsAtTheTerminatorAndMissingNumbersAreZero)
{
    // What lies behind the terminator must never be read as more numbers.
    const wchar_t buffer[] = L"1,2\0" L"30,40";
    int n[4] = {9, 9, 9, 9};
    ReadNumberList(buffer, n, 4);
    EXPECT_EQ(1, n[0]);
    EXPECT_EQ(2, n[1]);
    EXPECT_EQ(0, n[2]);
    EXPECT_EQ(0, n[3]);
    const wchar_t trailing[] = L"5,\0" L"7";
    ReadNumberList(trailing, n, 4);
    EXPECT_EQ(5, n[0]);
    EXPECT_EQ(0, n[1]);
    ReadNumberList(L"-3;4 5,6", n, 4);
    EXPECT_EQ(-3, n[0]);
    EXPECT_EQ(6, n[3]);
}

TEST(ColorText, SkipsOnlyALeadingHash)
{
    EXPECT_EQ(0xFF123456u, ParseColorText(L"#FF123456"));
    EXPECT_EQ(0xFF123456u, ParseColorText(L"FF123456"));
    EXPECT_EQ(0x00123456u, ParseColorText(L"  #123456"));
    EXPECT_EQ(0xABCDEFu, ParseColorText(L"ABCDEF"));
}

struct ParseCase {
    const wchar_t* description;
    const wchar_t* name;
    RECT source, corner, dest;
    BYTE fade;
    bool hole, xtiled, ytiled;
};

TEST_F(ImageTest, DescriptionsAreParsedOnce)
{
    const RECT z = {0, 0, 0, 0}, full = {0, 0, 12, 12};
    const ParseCase cases[] = {
        {L"nine.png", L"nine.png", full, z, z, 255, false, false, false},
        {L"file='nine.png' source='1,2,3,4' corner='5,6,7,8' dest='9,10,11,12' fade='100' hole='true' "
         L"xtiled='true' ytiled='true'",
         L"nine.png", {1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, 100, true, true, true},
        // fewer numbers than four: the rest are 0
        {L"file='nine.png' source='0,0,6' scale9='2'", L"nine.png", {0, 0, 6, 0}, {2, 0, 0, 0}, z, 255, false, false,
         false},
        // two blanks end the list after the first pair
        {L"file='nine.png'  corner='1,1,1,1'", L"nine.png", full, z, z, 255, false, false, false},
        // a missing quote ends it; what was read stays
        {L"file='nine.png' hole='true' fade='10", L"nine.png", full, z, z, 255, true, false, false},
        {L"file='nine.png' fade '10'", L"nine.png", full, z, z, 255, false, false, false},
        // keys are case-sensitive, booleans only "true", empty values ignored
        {L"file='nine.png' Hole='true' xtiled='TRUE' fade='' file=''", L"nine.png", full, z, z, 255, false, false,
         false},
        {L"file='nine.png' fade='999'", L"nine.png", full, z, z, 255, false, false, false},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.description);
        TestResources res;
        UIImageDrawInfo info;
        info.sDrawString = c.description;
        ASSERT_TRUE(CDrawHelper::LoadDrawInfo(&res, info));
        EXPECT_STREQ(c.name, info.sImageName.GetData());
        EXPECT_TRUE(EqualRect(&c.source, &info.rcSource));
        EXPECT_TRUE(EqualRect(&c.corner, &info.rcCorner));
        EXPECT_TRUE(EqualRect(&c.dest, &info.rcDest));
        EXPECT_EQ(c.fade, info.uFade);
        EXPECT_EQ(c.hole, info.bHole);
        EXPECT_EQ(c.xtiled, info.bTiledX);
        EXPECT_EQ(c.ytiled, info.bTiledY);
    }
    // What the cache is asked for: type only with "res" or "color", the mask, the colour adjustment.
    const struct {
        const wchar_t* description;
        const wchar_t* type;
        DWORD mask;
        bool hsl;
    } lookups[] = {
        {L"file='nine.png' mask='#FFFF00FF' hsl='true' restype='PNG'", L"", 0xFFFF00FF, true},
        {L"file='nine.png' mask='FF00FF' hsl='TRUE'", L"", 0x00FF00FF, false},
        {L"color='#FF00FF00'", L"*COLOR*", 0, false},
        {L"res='NINE' restype='PNG' mask='0'", L"PNG", 0, false},
    };
    for (const auto& c : lookups) {
        SCOPED_TRACE(testing::Message() << c.description);
        TestResources res;
        UIImageDrawInfo info;
        info.sDrawString = c.description;
        EXPECT_TRUE(CDrawHelper::LoadDrawInfo(&res, info));
        EXPECT_EQ(std::wstring(c.type), res.lastType);
        EXPECT_EQ(c.mask, res.lastMask);
        EXPECT_EQ(c.hsl, res.lastHsl);
    }
    // The type counts only with "res" (or "color"): a file of that name does not exist.
    for (const auto& c : {std::make_pair(L"res='NINE' restype='PNG'", true),
                          std::make_pair(L"restype='PNG' res='NINE'", true),
                          std::make_pair(L"file='NINE' restype='PNG'", false)}) {
        SCOPED_TRACE(testing::Message() << c.first);
        TestResources res;
        UIImageDrawInfo info;
        info.sDrawString = c.first;
        EXPECT_EQ(c.second, CDrawHelper::LoadDrawInfo(&res, info));
    }
    // A description whose image cannot be had is not tried again.
    TestResources res;
    UIImageDrawInfo info;
    info.sDrawString = L"file='missing.png'";
    Canvas canvas(4, 4);
    const RECT rc = {0, 0, 4, 4};
    EXPECT_FALSE(CDrawHelper::DrawImageString(canvas.Dc(), &res, rc, rc, info));
    EXPECT_FALSE(CDrawHelper::DrawImageString(canvas.Dc(), &res, rc, rc, info));
    EXPECT_EQ(1, res.ImageLoads());
}

struct Probe {
    int x, y;
    unsigned rgb;
};
struct DrawCase {
    const wchar_t* what;
    std::wstring description;
    int width, height;
    std::vector<Probe> probes;
};

TEST_F(ImageTest, EachImageOptionPutsItsColoursAtTheirPixels)
{
    std::vector<DrawCase> cases = {
        {L"stretched three times", L"nine.png", 36, 36,
         {{0, 0, kTL}, {11, 11, kTL}, {12, 0, kT}, {23, 0, kT}, {35, 0, kTR}, {18, 18, kM}, {0, 35, kBL},
          {35, 35, kBR}}},
        {L"nine-part corners unstretched, edges and middle stretched", L"file='nine.png' corner='4,4,4,4'", 40, 40,
         {{0, 0, kTL}, {3, 3, kTL}, {4, 0, kT}, {35, 3, kT}, {36, 0, kTR}, {39, 3, kTR}, {0, 4, kL}, {3, 35, kL},
          {4, 4, kM}, {35, 35, kM}, {36, 20, kR}, {0, 36, kBL}, {20, 39, kB}, {39, 39, kBR}}},
        {L"hole leaves the middle", L"file='nine.png' corner='4,4,4,4' hole='true'", 40, 40,
         {{0, 0, kTL}, {20, 0, kT}, {4, 4, kWhite}, {20, 20, kWhite}, {35, 35, kWhite}, {39, 20, kR}, {39, 39, kBR}}},
        {L"source rect", L"file='nine.png' source='4,4,8,8'", 10, 10, {{0, 0, kM}, {9, 9, kM}, {5, 5, kM}}},
        {L"dest rect inside the item", L"file='nine.png' source='8,8,12,12' dest='2,3,6,7'", 10, 10,
         {{1, 3, kWhite}, {2, 2, kWhite}, {2, 3, kBR}, {5, 6, kBR}, {6, 6, kWhite}, {5, 7, kWhite}}},
        {L"dest cut to the item", L"file='nine.png' source='0,0,4,4' dest='6,6,20,20'", 10, 10,
         {{5, 5, kWhite}, {6, 6, kTL}, {9, 9, kTL}}},
        {L"opaque mask colour becomes transparent", L"file='magenta.bmp' mask='#FFFF00FF'", 4, 2,
         {{0, 0, kWhite}, {1, 1, kWhite}, {2, 0, kWhite}, {1, 0, 0x000000}, {0, 1, 0x000000}}},
        {L"mask without its alpha byte matches nothing", L"file='magenta.bmp' mask='FF00FF'", 4, 2,
         {{0, 0, 0xFF00FF}, {1, 1, 0xFF00FF}, {1, 0, 0x000000}}},
        {L"fade over white", L"file='nine.png' source='0,0,4,4' fade='128'", 4, 4, {{0, 0, 0xFF7F7F}, {3, 3, 0xFF7F7F}}},
        {L"fade 0 draws nothing", L"file='nine.png' fade='0'", 4, 4, {{0, 0, kWhite}, {3, 3, kWhite}}},
        {L"per-pixel alpha", L"file='alpha.png' source='0,0,1,1'", 3, 3, {{0, 0, 0xFF7F7F}, {2, 2, 0xFF7F7F}}},
        {L"half-transparent colour", L"color='#80FF0000'", 3, 3, {{0, 0, 0xFF7F7F}, {2, 2, 0xFF7F7F}}},
        {L"x tiling, last tile cut", L"file='tile.png' xtiled='true'", 8, 2,
         {{0, 0, 0x0A141E}, {3, 0, 0x0A141E}, {6, 0, 0x0A141E}, {7, 0, 0x28323C}, {5, 1, 0xA0AAB4}, {4, 1, 0x828C96}}},
        {L"y tiling, last tile cut", L"file='tile.png' ytiled='true'", 3, 5,
         {{0, 0, 0x0A141E}, {0, 2, 0x0A141E}, {0, 4, 0x0A141E}, {2, 3, 0xA0AAB4}, {1, 1, 0x828C96}}},
        {L"x and y tiling", L"file='tile.png' xtiled='true' ytiled='true'", 7, 5,
         {{0, 0, 0x0A141E}, {3, 2, 0x0A141E}, {6, 4, 0x0A141E}, {5, 3, 0xA0AAB4}, {4, 1, 0x828C96}}},
        {L"x tiling with a middle of no width draws no middle",
         L"file='nine.png' corner='6,6,6,6' xtiled='true'", 30, 30,
         {{0, 0, kTL}, {29, 29, kBR}, {15, 15, kWhite}, {15, 0, kWhite}, {0, 15, kWhite}}},
        {L"y tiling with a middle of no height draws no middle",
         L"file='nine.png' source='0,0,12,8' corner='0,4,0,4' ytiled='true'", 12, 30,
         {{0, 0, kTL}, {0, 29, kL}, {6, 15, kWhite}}},
    };
    for (int i = 0; i < 5; ++i) {
        wchar_t description[80];
        swprintf(description, 80, L"file='strip.png' source='%d,0,%d,4'", i * 20, i * 20 + 20);
        cases.push_back({L"five-state strip", description, 20, 4,
                         {{0, 0, kStates[i]}, {19, 0, kStates[i]}, {10, 3, kStates[i]}}});
    }
    for (const DrawCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.what << ": " << c.description);
        TestResources res;
        UIImageDrawInfo info;
        info.sDrawString = c.description.c_str();
        Canvas canvas(c.width, c.height);
        const RECT item = {0, 0, c.width, c.height};
        ASSERT_TRUE(CDrawHelper::DrawImageString(canvas.Dc(), &res, item, item, info));
        for (const Probe& p : c.probes) {
            EXPECT_TRUE(canvas.HasColor({p.x, p.y, p.x + 1, p.y + 1}, p.rgb, 1))
                << "at " << p.x << "," << p.y << " want " << std::hex << p.rgb << " got " << canvas.Pixel(p.x, p.y);
        }
    }
}

TEST_F(ImageTest, OnlyThePaintRectIsDrawn)
{
    for (const wchar_t* description : {L"nine.png", L"file='nine.png' corner='4,4,4,4'"}) {
        SCOPED_TRACE(testing::Message() << description);
        TestResources res;
        UIImageDrawInfo info;
        info.sDrawString = description;
        Canvas canvas(12, 12);
        const RECT item = {0, 0, 12, 12}, paint = {0, 0, 12, 4};
        ASSERT_TRUE(CDrawHelper::DrawImageString(canvas.Dc(), &res, item, paint, info));
        EXPECT_NE(kWhite, canvas.Pixel(0, 0));
        EXPECT_EQ(kWhite, canvas.Pixel(0, 8));
        EXPECT_EQ(kWhite, canvas.Pixel(11, 11));
    }
}

TEST(DrawColor, FillsBlendsOrSkipsByAlpha)
{
    Canvas canvas(6, 6);
    const RECT rc = {1, 1, 5, 5};
    CDrawHelper::DrawColor(canvas.Dc(), rc, 0x00FF0000);
    EXPECT_EQ(kWhite, canvas.Pixel(2, 2));
    CDrawHelper::DrawColor(canvas.Dc(), rc, 0x800000FF);
    EXPECT_TRUE(canvas.HasColor({2, 2, 3, 3}, 0x7F7FFF, 1)) << std::hex << canvas.Pixel(2, 2);
    CDrawHelper::DrawColor(canvas.Dc(), rc, 0xFF00FF00);
    EXPECT_EQ(0x00FF00u, canvas.Pixel(1, 1));
    EXPECT_EQ(0x00FF00u, canvas.Pixel(4, 4));
    EXPECT_EQ(kWhite, canvas.Pixel(5, 5));
    EXPECT_EQ(kWhite, canvas.Pixel(0, 0));
}

TEST(DrawGradient, RunsBetweenItsColoursAndSkipsWhenTransparent)
{
    Canvas canvas(4, 64);
    const RECT rc = {0, 0, 4, 64};
    CDrawHelper::DrawGradient(canvas.Dc(), rc, 0x00000000, 0x00FFFFFF, true, 16);
    EXPECT_EQ(kWhite, canvas.Pixel(0, 0));
    CDrawHelper::DrawGradient(canvas.Dc(), rc, 0xFF000000, 0xFF0000FF, true, 16);
    EXPECT_TRUE(canvas.HasColor({0, 0, 1, 1}, 0x000000, 8));
    EXPECT_TRUE(canvas.HasColor({0, 63, 1, 64}, 0x0000FF, 8));
    EXPECT_TRUE(canvas.HasColor({0, 32, 1, 33}, 0x000080, 8));
    // horizontal: left to right
    canvas.Fill(RGB(255, 255, 255));
    CDrawHelper::DrawGradient(canvas.Dc(), {0, 0, 4, 64}, 0xFFFF0000, 0xFF00FF00, false, 16);
    EXPECT_GT(canvas.Pixel(0, 10) >> 16, canvas.Pixel(3, 10) >> 16);
    // Half transparent: blended over what is there.
    canvas.Fill(RGB(255, 255, 255));
    CDrawHelper::DrawGradient(canvas.Dc(), rc, 0x80000000, 0x80000000, true, 16);
    EXPECT_TRUE(canvas.HasColor({0, 30, 1, 31}, 0x7F7F7F, 2)) << std::hex << canvas.Pixel(0, 30);
}

TEST(DrawGradient, BandsAreAPowerOfTwoBySteps)
{
    const struct {
        int steps, bands;
    } cases[] = {{1, 2}, {3, 2}, {4, 4}, {10, 8}, {16, 16}, {40, 32}, {64, 64}, {200, 64}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.steps);
        Canvas canvas(1, 128);
        CDrawHelper::DrawGradientBands(canvas.Dc(), {0, 0, 1, 128}, 0xFF000000, 0xFFFFFFFF, true, c.steps);
        std::vector<unsigned> colours;
        for (int y = 0; y < 128; ++y) {
            if (colours.empty() || colours.back() != canvas.Pixel(0, y)) colours.push_back(canvas.Pixel(0, y));
        }
        EXPECT_EQ(static_cast<size_t>(c.bands), colours.size());
        EXPECT_EQ(0x000000u, colours.front());
        EXPECT_EQ(0xFFFFFFu, colours.back());
    }
}

TEST(DrawShapes, OutlinesStayInsideTheirRect)
{
    Canvas canvas(12, 12);
    CDrawHelper::DrawRect(canvas.Dc(), {2, 2, 10, 10}, 2, 0xFFFF0000);
    EXPECT_EQ(0xFF0000u, canvas.Pixel(2, 2));
    EXPECT_EQ(0xFF0000u, canvas.Pixel(3, 3));
    EXPECT_EQ(0xFF0000u, canvas.Pixel(9, 9));
    EXPECT_EQ(kWhite, canvas.Pixel(4, 4));
    EXPECT_EQ(kWhite, canvas.Pixel(1, 1));
    EXPECT_EQ(kWhite, canvas.Pixel(10, 10));
    canvas.Fill(RGB(255, 255, 255));
    CDrawHelper::DrawRoundRect(canvas.Dc(), {0, 0, 12, 12}, 1, 6, 6, 0xFF0000FF);
    EXPECT_EQ(kWhite, canvas.Pixel(0, 0));   // the corner is rounded away
    EXPECT_EQ(0x0000FFu, canvas.Pixel(6, 0));
    EXPECT_EQ(kWhite, canvas.Pixel(6, 6));
    canvas.Fill(RGB(255, 255, 255));
    CDrawHelper::DrawLine(canvas.Dc(), {0, 5, 12, 5}, 1, 0xFF00FF00);
    EXPECT_EQ(0x00FF00u, canvas.Pixel(0, 5));
    EXPECT_EQ(0x00FF00u, canvas.Pixel(11, 5));
    EXPECT_EQ(kWhite, canvas.Pixel(5, 4));
}

TEST(AlphaBlendSoftware, MatchesTheSystemBlend)
{
    // A premultiplied source of every alpha step over a coloured target.
    BYTE* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP source = CDrawHelper::CreateBitmapInfo(screen, 16, 1, &bits);
    ASSERT_NE(nullptr, source);
    for (int i = 0; i < 16; ++i) {
        const int a = i * 17;
        bits[i * 4 + 0] = static_cast<BYTE>(200 * a / 255);
        bits[i * 4 + 1] = static_cast<BYTE>(30 * a / 255);
        bits[i * 4 + 2] = static_cast<BYTE>(90 * a / 255);
        bits[i * 4 + 3] = static_cast<BYTE>(a);
    }
    HDC sourceDc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(sourceDc, source);
    for (BYTE constant : {BYTE(255), BYTE(128), BYTE(40)}) {
        for (BYTE format : {BYTE(AC_SRC_ALPHA), BYTE(0)}) {
            SCOPED_TRACE(testing::Message() << int(constant) << " " << int(format));
            Canvas system(16, 2, RGB(10, 180, 240)), soft(16, 2, RGB(10, 180, 240));
            const BLENDFUNCTION f = {AC_SRC_OVER, 0, constant, format};
            ASSERT_TRUE(AlphaBlend(system.Dc(), 0, 0, 16, 2, sourceDc, 0, 0, 16, 1, f));
            ASSERT_TRUE(CDrawHelper::AlphaBlendSoftware(soft.Dc(), 0, 0, 16, 2, sourceDc, 0, 0, 16, 1, f));
            for (int x = 0; x < 16; ++x) {
                EXPECT_TRUE(soft.HasColor({x, 1, x + 1, 2}, system.Pixel(x, 1), 2))
                    << x << ": " << std::hex << soft.Pixel(x, 1) << " vs " << system.Pixel(x, 1);
            }
        }
    }
    SelectObject(sourceDc, old);
    DeleteDC(sourceDc);
    DeleteObject(source);
    ReleaseDC(nullptr, screen);
}

TEST(DrawClip, LimitsDrawingUntilItEnds)
{
    Canvas canvas(10, 10);
    {
        CDrawClip clip;
        CDrawClip::GenerateClip(canvas.Dc(), {2, 2, 5, 5}, clip);
        CDrawHelper::DrawColor(canvas.Dc(), {0, 0, 10, 10}, 0xFF000000);
        EXPECT_EQ(0u, canvas.Pixel(2, 2));
        EXPECT_EQ(kWhite, canvas.Pixel(5, 5));
        CDrawClip::UseOldClipBegin(canvas.Dc(), clip);
        CDrawHelper::DrawColor(canvas.Dc(), {8, 8, 9, 9}, 0xFF000000);
        CDrawClip::UseOldClipEnd(canvas.Dc(), clip);
        EXPECT_EQ(0u, canvas.Pixel(8, 8));
    }
    CDrawHelper::DrawColor(canvas.Dc(), {0, 0, 10, 10}, 0xFF00FF00);
    EXPECT_EQ(0x00FF00u, canvas.Pixel(9, 9));
    canvas.Fill(RGB(255, 255, 255));
    {
        CDrawClip clip;
        CDrawClip::GenerateRoundClip(canvas.Dc(), {0, 0, 10, 10}, {0, 0, 9, 9}, 6, 6, clip);
        CDrawHelper::DrawColor(canvas.Dc(), {0, 0, 10, 10}, 0xFF000000);
        EXPECT_EQ(kWhite, canvas.Pixel(0, 0));
        EXPECT_EQ(0u, canvas.Pixel(5, 5));
    }
}

TEST(ColorAdjustment, ShiftsHueSaturationAndLightness)
{
    EXPECT_EQ(0x80FF0000u, CDrawHelper::AdjustColor(0x80FF0000, 180, 100, 100));
    EXPECT_EQ(0x8000FF00u, CDrawHelper::AdjustColor(0x80FF0000, 300, 100, 100));   // red + 120 degrees
    EXPECT_EQ(0xFF0000FFu, CDrawHelper::AdjustColor(0xFF00FF00, 300, 100, 100));
    EXPECT_EQ(0xFFFF0000u, CDrawHelper::AdjustColor(0xFF0000FF, 300, 100, 100));   // 360 degrees is red again
    EXPECT_EQ(0xFF808080u, CDrawHelper::AdjustColor(0xFFFF0000, 180, 0, 100));
    EXPECT_EQ(0xFF000000u, CDrawHelper::AdjustColor(0xFFFF0000, 180, 100, 0));
    float h, s, l;
    CDrawHelper::RgbToHsl(0x0000FF, &h, &s, &l);
    EXPECT_FLOAT_EQ(240.0f, h);
    EXPECT_FLOAT_EQ(1.0f, s);
    EXPECT_FLOAT_EQ(0.5f, l);
    EXPECT_EQ(0x00FFFFFFu, CDrawHelper::MixColor(0xFFFFFFFF, 1.0, 0x00000000, 1.0));
    EXPECT_EQ(0x00404040u, CDrawHelper::MixColor(0x808080, 0.5, 0, 0.5));
}

TEST_F(ImageTest, AdjustedImagesComeBackFromTheirCopy)
{
    UIImageInfo* image = CDrawHelper::LoadImage(CUIStringOrId(L"opaque.png"));
    ASSERT_NE(nullptr, image);
    image->bUseHSL = true;
    ASSERT_TRUE(CDrawHelper::KeepUnadjustedPixels(image));
    const unsigned before = PremultipliedPixel(image, 0, 0);
    CDrawHelper::AdjustImage(true, image, 180, 100, 0);
    EXPECT_EQ(0xFF000000u, PremultipliedPixel(image, 0, 0));
    CDrawHelper::AdjustImage(false, image, 180, 100, 0);
    EXPECT_EQ(before, PremultipliedPixel(image, 0, 0));
    CDrawHelper::FreeImage(image);
}

}  // namespace

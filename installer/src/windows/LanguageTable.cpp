// "language.json": an array of objects, each with an integer "id" and one text per
// language code, loaded one language at a time into the framework's text table.
#include "LanguageTable.h"

#include <windows.h>

#include <json/json.h>

#include <memory>

#include "SkinFile.h"
#include "UIControl.h"
#include "UIManager.h"
#include "Utils.h"

using SkinUI::CWindowManagerUI;

namespace {

const wchar_t* const kCodes[LanguageTable::kCount] = {L"en-US", L"zh-CN", L"zh-TW"};

const wchar_t kLanguageFile[] = L"language.json";

// The skin's files as the framework reads them: its kept archive, else the archive
// file named in the resource folder, else the resource folder itself.
SkinUI::SkinSource FrameworkSkinSource()
{
    SkinUI::SkinSource source;
    source.resourcePath = CWindowManagerUI::GetResourcePath().GetData();
    source.archiveName = CWindowManagerUI::GetResourceZip().GetData();
    source.openArchive = CWindowManagerUI::IsResourceZipCached() ? CWindowManagerUI::GetResourceZipHandle() : nullptr;
    if (CWindowManagerUI::GetResourceZip().IsEmpty()) {
        source.kind = SkinUI::SkinSourceKind::Folder;
    } else {
        source.kind = CWindowManagerUI::IsResourceArchive7z() ? SkinUI::SkinSourceKind::SevenZip
                                                               : SkinUI::SkinSourceKind::Zip;
    }
    return source;
}

int ChooseNumber(int number, const std::wstring& code)
{
    if (!code.empty()) {
        for (int n = 0; n < LanguageTable::kCount; ++n) {
            if (code == kCodes[n]) return n;
        }
    }
    // "-language" comes from the command line unchecked.
    return (number >= 0 && number < LanguageTable::kCount) ? number : 0;
}

// The texts of one language code from the bytes of a "language.json"; nothing when
// they do not parse or hold no array.
void LoadTexts(const void* bytes, size_t size, const std::wstring& code)
{
    const char* begin = static_cast<const char*>(bytes);
    const char* end = begin + size;
    if (size >= 3 && static_cast<unsigned char>(begin[0]) == 0xEF && static_cast<unsigned char>(begin[1]) == 0xBB &&
        static_cast<unsigned char>(begin[2]) == 0xBF)
        begin += 3;

    Json::Value root;
    try {
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        std::string errors;
        if (!reader->parse(begin, end, &root, &errors)) return;
    } catch (const std::exception&) {
        return;
    }
    if (!root.isArray()) return;

    // The file is UTF-8 and the table UTF-16: the texts are decoded directly, never
    // through the ANSI code page, which has no room for most Chinese characters.
    const std::string key = Utils::WideToMultiByte(code, CP_UTF8);
    for (const Json::Value& item : root) {
        if (!item.isObject()) continue;
        const Json::Value& id = item["id"];
        if (!id.isInt()) continue;   // a text without a number would land on id 0
        const Json::Value& text = item[key];
        const std::wstring wide = text.isString() ? Utils::MultiByteToWide(text.asString(), CP_UTF8) : std::wstring();
        CWindowManagerUI::AddMultiLanguageString(id.asInt(), wide.c_str());
    }
}

}  // namespace

std::wstring LanguageTable::CodeOf(int number)
{
    return (number >= 0 && number < kCount) ? kCodes[number] : std::wstring();
}

int LanguageTable::Load(int number, const std::wstring& code)
{
    SkinUI::SkinFileBytes file;
    LPCWSTR error = nullptr;
    if (!SkinUI::ReadSkinFile(FrameworkSkinSource(), kLanguageFile, SkinUI::kMaxSkinTextFile, file, error)) return 0;
    const int chosen = ChooseNumber(number, code);
    LoadTexts(file.data.get(), file.size, CodeOf(chosen));
    return chosen;
}

std::wstring LanguageTable::Text(int id)
{
    LPCWSTR text = CWindowManagerUI::GetMultiLanguageString(id);
    return text ? std::wstring(text) : std::wstring();
}

int LanguageTable::LoadInstalledLanguage(const std::wstring& installFolder, CWindowManagerUI& manager)
{
    std::wstring code;
    const std::wstring configIni = installFolder + L"\\config.ini";
    if (!installFolder.empty() && Utils::FileExists(configIni)) {
        wchar_t value[261] = {0};
        ::GetPrivateProfileStringW(L"Install", L"Language", L"en-US", value, 261, configIni.c_str());
        code = value;
    }
    const int number = Load(0, code);
    if (SkinUI::CControlUI* root = manager.GetRoot()) root->NeedUpdate();
    return number;
}

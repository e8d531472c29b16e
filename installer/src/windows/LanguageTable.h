#pragma once
// The installer's texts in English, Simplified Chinese or Traditional Chinese: one
// language of the skin's "language.json" loaded into the UI framework's process-wide
// table of multi-language texts, from which layouts take them by "%{id}" tokens and
// the windows by id.
#include <string>

namespace SkinUI {
class CWindowManagerUI;
}

class LanguageTable {
public:
    // Language numbers, in the order of the language combo box.
    enum { kEnglish = 0, kSimplifiedChinese = 1, kTraditionalChinese = 2, kCount = 3 };

    // "en-US", "zh-CN", "zh-TW"; empty for a number outside the table.
    static std::wstring CodeOf(int number);

    // Loads one language's texts from "language.json" of the skin in force and returns
    // the number used: the first number whose code is `code` when one matches, else
    // `number`, where a number outside the table counts as 0. A missing, empty or
    // oversized file loads nothing and yields 0.
    static int Load(int number, const std::wstring& code = std::wstring());

    // The loaded text of an id; empty when the id has none.
    static std::wstring Text(int id);

    // The language of the copy installed in `installFolder` ("config.ini", section
    // "Install", key "Language"), loaded; the window's root is asked to lay out again.
    static int LoadInstalledLanguage(const std::wstring& installFolder, SkinUI::CWindowManagerUI& manager);
};

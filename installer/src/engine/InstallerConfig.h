#pragma once
// The process-wide installer settings: built-in defaults, then the INI file beside the
// program, then the command line, each layer overriding the one before.
#include <map>
#include <string>

// The option map of a command line: "-key=value" arguments, first occurrence wins.
class CommandLineArgs {
public:
    CommandLineArgs();                                 // the process command line
    explicit CommandLineArgs(const std::wstring& commandLine);

    std::wstring GetString(const std::wstring& key) const;
    int GetInt(const std::wstring& key) const;
    bool GetBool(const std::wstring& key) const;
    double GetDouble(const std::wstring& key, double fallback) const;
    const std::map<std::wstring, std::wstring>& Map() const { return m_args; }

private:
    void Build(const std::wstring& commandLine);
    std::map<std::wstring, std::wstring> m_args;
};

class InstallerConfig {
public:
    InstallerConfig();   // defaults, then the INI file beside the program

    // Reads "QuorvInstallerConfig.ini" beside the program; nothing when it is missing.
    void LoadIniFile();
    void LoadIniFile(const std::wstring& iniPath);
    void ApplyCommandLine();
    void ApplyCommandLine(const CommandLineArgs& args);
    void SetDownloadUrl(const std::wstring& url);
    static std::wstring ResolveRoute(const std::wstring& url);
    // The same with a given OS version text (the route depends only on it).
    static std::wstring ResolveRoute(const std::wstring& url, const std::wstring& osVersionText);
    // Restores the built-in defaults (used before the INI layer).
    void SetDefaults();

    std::wstring DownloadUrl;
    int DownloadType = 1;
    bool IsCheckNet = false;
    double DownloadScale = 0.7;
    bool LibcurlUsable = true;
    std::wstring InstCmd;
    int LanguageOption = 0;
    bool InsNew = false;
};

extern const wchar_t kDefaultDownloadUrl[];
extern const wchar_t kProductName[];          // "TallowmereDataRecovery"

// The one configuration object, built during static initialisation.
extern InstallerConfig g_InstallerConfig;

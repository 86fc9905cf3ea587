// The Windows program's resources, read back from gantrix.exe as Windows reads them, and the
// DPI awareness its manifest gives a process: this test program carries the same resources.

#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <windows.h>

namespace
{
// gantrix.exe of the same build, found beside this program's folder.
std::wstring editorPath()
{
    wchar_t self[MAX_PATH] = L"";
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    path.erase(path.find_last_of(L"\\/") + 1);
    return path + GANTRIX_EDITOR_FROM_TESTS;
}

// The resource's bytes; empty when the module has no such resource.
std::string resourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type)
{
    HRSRC found = FindResourceW(module, name, type);
    if (found == nullptr)
    {
        return "";
    }
    HGLOBAL loaded = LoadResource(module, found);
    const char* bytes = static_cast<const char*>(LockResource(loaded));
    return bytes != nullptr ? std::string(bytes, SizeofResource(module, found)) : "";
}

#pragma pack(push, 2)
struct IconGroupEntry
{
    BYTE width; // 0 stands for 256
    BYTE height;
    BYTE colours;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)
} // namespace

TEST(WindowsResources, TheEditorCarriesItsIconVersionAndManifest)
{
    const std::wstring path = editorPath();
    HMODULE editor = LoadLibraryExW(path.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(editor, nullptr) << "cannot open gantrix.exe beside the tests";

    // The toolkit puts the icon named GLUT_ICON on its windows: every size of the desktop's
    // icon, each a true-colour image with an alpha channel.
    const std::string group = resourceBytes(editor, L"GLUT_ICON", MAKEINTRESOURCEW(14));
    ASSERT_GE(group.size(), 6u) << "no icon GLUT_ICON";
    const WORD count = *reinterpret_cast<const WORD*>(group.data() + 4);
    ASSERT_EQ(group.size(), 6 + count * sizeof(IconGroupEntry));
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i)
    {
        IconGroupEntry entry;
        memcpy(&entry, group.data() + 6 + i * sizeof entry, sizeof entry);
        sizes.push_back(entry.width == 0 ? 256 : entry.width);
        EXPECT_EQ(entry.bitCount, 32);
        EXPECT_FALSE(
            resourceBytes(editor, MAKEINTRESOURCEW(entry.id), MAKEINTRESOURCEW(3)).empty());
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48, 64, 128, 256}));

    // The version Properties and Task Manager show is the project's.
    const std::string version = resourceBytes(editor, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
    ASSERT_FALSE(version.empty()) << "no version information";
    std::vector<char> copy(version.begin(), version.end());
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueW(copy.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    EXPECT_EQ(fixed->dwFileVersionMS,
              static_cast<DWORD>(MAKELONG(GANTRIX_VERSION_MINOR, GANTRIX_VERSION_MAJOR)));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, GANTRIX_VERSION_PATCH)));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    wchar_t* text = nullptr;
    UINT textSize = 0;
    ASSERT_TRUE(VerQueryValueW(copy.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                               reinterpret_cast<void**>(&text), &textSize));
    EXPECT_EQ(std::wstring(text), std::wstring(L"" GANTRIX_VERSION_TEXT));
    ASSERT_TRUE(VerQueryValueW(copy.data(), L"\\StringFileInfo\\040904B0\\FileDescription",
                               reinterpret_cast<void**>(&text), &textSize));
    EXPECT_EQ(std::wstring(text), L"Gantrix ship editor");

    // The manifest Windows reads at start-up: Windows 10 and 11, per-monitor DPI awareness
    // and the older switch for the same.
    const std::string manifest = resourceBytes(editor, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
    EXPECT_NE(manifest.find(">PerMonitorV2"), std::string::npos);
    EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
    FreeLibrary(editor);
}

// Windows sets a process's DPI awareness from these settings of its activation context, which
// the loader builds from the manifest: a manifest it cannot read, or a setting under the wrong
// name, leaves the process unaware. (Wine treats every process as aware, so asking it for the
// process's awareness would tell nothing.)
TEST(WindowsResources, TheManifestMakesTheProcessAwareOfEachMonitorsScale)
{
    const auto setting = [](const wchar_t* space, const wchar_t* name)
    {
        wchar_t value[128] = L"";
        SIZE_T written = 0;
        const BOOL found =
            QueryActCtxSettingsW(0, nullptr, space, name, value, ARRAYSIZE(value), &written);
        return found ? std::wstring(value) : std::wstring(L"(not set)");
    };
    EXPECT_EQ(setting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"),
              L"PerMonitorV2, PerMonitor");
    EXPECT_EQ(setting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"),
              L"true/pm");
}

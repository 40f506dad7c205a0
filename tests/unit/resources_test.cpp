#include <gtest/gtest.h>

#include <string>

#include "test_files.h"
#include "testbed.h"

namespace {

const wchar_t* const kEnglish[] = {
    L"Are you sure you want to install VANTIRO RAID utility?",
    L"The RAID driver has been updated. You must reboot your computer to enable this software. \n"
    L"Do you want to restart your computer now?",
    L"Installing VANTIRO RAID Utility...",
    L"VANTIRO RAID Setup",
    L"VANTIRO RAID Utility has been successfully installed.",
    L"Removing previous version...",
    L"You cannot install the software on your computer.",
    L"Installation operation failed.",
    L"New version of this product is already installed ",
    L"No files found.",
    L"Are you sure you want to update VANTIRO RAID driver?",
    L"Updating VANTIRO RAID Driver...",
    L"You cannot install the software on your OS.",
};

const wchar_t* const kJapanese[] = {
    L"VANTIRO RAID \u30e6\u30fc\u30c6\u30a3\u30ea\u30c6\u30a3\u306e\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3092\u958b"
    L"\u59cb\u3057\u307e\u3059\u304b?",
    L"RAID\u30c9\u30e9\u30a4\u30d0\u3092\u66f4\u65b0\u3057\u307e\u3057\u305f\u3002\u66f4\u65b0\u3092\u6709\u52b9\u306b"
    L"\u3059\u308b\u306b\u306f\u3001\u518d\u8d77\u52d5\u304c\u5fc5\u8981\u3067\u3059\u3002\n\u4eca\u3059\u3050\u518d"
    L"\u8d77\u52d5\u3057\u307e\u3059\u304b?",
    L"\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u4e2d\u3067\u3059\u3002",
    L"VANTIRO RAID \u30bb\u30c3\u30c8\u30a2\u30c3\u30d7",
    L"\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u306f\u5b8c\u4e86\u3057\u307e\u3057\u305f\u3002",
    L"\u4ee5\u524d\u306e\u30d0\u30fc\u30b8\u30e7\u30f3\u3092\u30a2\u30f3\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3057"
    L"\u3066"
    L"\u3044\u307e\u3059\u3002",
    L"\u3053\u306e\u30b3\u30f3\u30d4\u30e5\u30fc\u30bf\u306b\u306f\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3067\u304d"
    L"\u307e"
    L"\u305b\u3093\u3002",
    L"\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3067\u304d\u307e\u305b\u3093\u3067\u3057\u305f\u3002",
    L"\u3059\u3067\u306b\u65b0\u3057\u3044\u30d0\u30fc\u30b8\u30e7\u30f3\u304c\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb"
    L"\u6e08"
    L"\u307f\u3067\u3059\u3002",
    L"\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u306b\u5fc5\u8981\u306a\u30d5\u30a1\u30a4\u30eb\u304c\u898b\u3064\u304b"
    L"\u308a"
    L"\u307e\u305b\u3093\u3002",
    L"VANTIRO RAID \u30c9\u30e9\u30a4\u30d0\u306e\u66f4\u65b0\u3092\u958b\u59cb\u3057\u307e\u3059\u304b?",
    L"\u66f4\u65b0\u4e2d\u3067\u3059\u3002",
    L"\u3053\u306eOS\u306b\u306f\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3067\u304d\u307e\u305b\u3093\u3002",
};

class ResourcesTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::wstring path = testbed::TestProgramFolder() + L"setup.exe";
        module_ = LoadLibraryExW(path.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(nullptr, module_) << "cannot load " << testing::PrintToString(path);
    }
    void TearDown() override
    {
        if (module_ != NULL) {
            FreeLibrary(module_);
        }
    }

    std::string Resource(const wchar_t* type, const wchar_t* name, WORD language) const
    {
        HRSRC found = FindResourceExW(module_, type, name, language);
        if (found == NULL) {
            return std::string();
        }
        HGLOBAL loaded = LoadResource(module_, found);
        return std::string(static_cast<const char*>(LockResource(loaded)), SizeofResource(module_, found));
    }

    // The string of one language, read from its block: 16 counted strings.
    std::wstring String(UINT id, WORD language) const
    {
        std::string block = Resource(RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
        const wchar_t* entry = reinterpret_cast<const wchar_t*>(block.data());
        const wchar_t* end = entry + block.size() / sizeof(wchar_t);
        for (UINT index = 0; entry < end; ++index) {
            size_t length = *entry++;
            if (index == id % 16) {
                return std::wstring(entry, length);
            }
            entry += length;
        }
        return L"<missing>";
    }

    HMODULE module_ = NULL;
};

TEST_F(ResourcesTest, StringTableHoldsEveryTextInEnglishAndJapanese)
{
    for (UINT id = 1; id <= 13; ++id) {
        EXPECT_EQ(kEnglish[id - 1], String(id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US))) << "id " << id;
        EXPECT_EQ(kJapanese[id - 1], String(id, MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT))) << "id " << id;
    }
}

// Reads the classic dialog template word by word.
class TemplateReader {
public:
    explicit TemplateReader(const std::string& bytes) : bytes_(bytes) {}
    DWORD Dword()
    {
        DWORD low = Word();
        return low | (static_cast<DWORD>(Word()) << 16);
    }
    WORD Word()
    {
        WORD value = 0;
        if (offset_ + 2 <= bytes_.size()) {
            memcpy(&value, bytes_.data() + offset_, 2);
        }
        offset_ += 2;
        return value;
    }
    std::wstring Text()
    {
        std::wstring text;
        for (WORD c = Word(); c != 0; c = Word()) {
            text += static_cast<wchar_t>(c);
        }
        return text;
    }
    void AlignToDword()
    {
        offset_ = (offset_ + 3) & ~static_cast<size_t>(3);
    }
    size_t offset() const
    {
        return offset_;
    }

private:
    const std::string& bytes_;
    size_t offset_ = 0;
};

TEST_F(ResourcesTest, ProgressDialogIsABorderlessPopupWithOneCentredStatic)
{
    std::string bytes = Resource(RT_DIALOG, MAKEINTRESOURCEW(101), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_FALSE(bytes.empty());
    TemplateReader reader(bytes);
    EXPECT_EQ(0x80800040u, reader.Dword()) << "style";
    EXPECT_EQ(0u, reader.Dword()) << "extended style";
    EXPECT_EQ(1, reader.Word()) << "controls";
    EXPECT_EQ(0, reader.Word());
    EXPECT_EQ(0, reader.Word());
    EXPECT_EQ(186, reader.Word());
    EXPECT_EQ(42, reader.Word());
    EXPECT_EQ(L"", reader.Text()) << "menu";
    EXPECT_EQ(L"", reader.Text()) << "class";
    EXPECT_EQ(L"", reader.Text()) << "title";
    EXPECT_EQ(9, reader.Word()) << "point size";
    EXPECT_EQ(L"\uff2d\uff33 \uff30\u30b4\u30b7\u30c3\u30af", reader.Text()) << "font";
    reader.AlignToDword();
    EXPECT_EQ(0x50020001u, reader.Dword()) << "control style";
    EXPECT_EQ(0u, reader.Dword()) << "control extended style";
    EXPECT_EQ(7, reader.Word());
    EXPECT_EQ(17, reader.Word());
    EXPECT_EQ(172, reader.Word());
    EXPECT_EQ(10, reader.Word());
    EXPECT_EQ(1000, reader.Word()) << "control id";
    EXPECT_EQ(0xFFFF, reader.Word());
    EXPECT_EQ(0x0082, reader.Word()) << "STATIC class atom";
    EXPECT_EQ(L"", reader.Text()) << "initial text";
    EXPECT_EQ(0, reader.Word()) << "creation data";
    EXPECT_GE(bytes.size(), reader.offset());
}

TEST_F(ResourcesTest, ManifestAsksForAdministratorAndNamesEverySupportedWindows)
{
    std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    if (manifest.empty()) {
        manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    }
    ASSERT_FALSE(manifest.empty());
    const char* const expected[] = {
        "level=\"requireAdministrator\"",
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
    };
    for (const char* part : expected) {
        EXPECT_NE(std::string::npos, manifest.find(part)) << part;
    }
}

TEST_F(ResourcesTest, CarriesAVersionResource)
{
    std::string version = Resource(RT_VERSION, MAKEINTRESOURCEW(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    if (version.empty()) {
        version = Resource(RT_VERSION, MAKEINTRESOURCEW(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    }
    const char signature[] = {'\xBD', '\x04', '\xEF', '\xFE'};
    EXPECT_NE(std::string::npos, version.find(std::string(signature, 4)));
}

}  // namespace

// The resources built into tovrith.exe, read from the file as data: the main window's template,
// the languages of both templates, the icon, the version record and the manifest.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>
#include <string>
#include <vector>

#include "program_path.h"

namespace {

std::string narrow(const std::wstring &text) {
    std::string out;
    for (wchar_t c : text)
        out += c < 128 ? (char)c : '?';
    return out;
}

class ResourcesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        module = LoadLibraryExW(TOVRITH_EXE, NULL,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, (HMODULE)NULL)
            << "cannot load " << narrow(TOVRITH_EXE) << " as data, " << GetLastError();
    }
    void TearDown() override {
        if (module)
            FreeLibrary(module);
    }
    // The bytes of a resource in any language; empty when there is none.
    std::string bytes(LPCWSTR type, int id) {
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
        if (!found)
            return std::string();
        const char *data = (const char *)LockResource(LoadResource(module, found));
        return data ? std::string(data, SizeofResource(module, found)) : std::string();
    }
    HMODULE module = NULL;
};

std::string hex(DWORD value) {
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", (unsigned long)value);
    return text;
}

// Reads a classic dialog template word by word.
class TemplateReader {
  public:
    explicit TemplateReader(const std::string &data) : data_(data) {}
    WORD word() {
        WORD w = 0;
        if (at_ + 2 <= data_.size())
            memcpy(&w, data_.data() + at_, 2);
        at_ += 2;
        return w;
    }
    DWORD dword() {
        DWORD low = word();
        return low | ((DWORD)word() << 16);
    }
    short coord() {
        return (short)word();
    }
    std::wstring text() {
        std::wstring s;
        for (WORD w = word(); w && at_ <= data_.size(); w = word())
            s += (wchar_t)w;
        return s;
    }
    // A name or an ordinal: an ordinal is returned as "#<number>".
    std::wstring nameOrOrdinal() {
        WORD first = word();
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(word());
        at_ -= 2;
        return text();
    }
    void alignDword() {
        at_ = (at_ + 3) & ~(size_t)3;
    }
    bool overrun() const {
        return at_ > data_.size();
    }

  private:
    const std::string &data_;
    size_t at_ = 0;
};

struct Control {
    int id;
    int kind; // the predefined class, as its ordinal
    const char *text;
    short x, y, cx, cy;
    DWORD style;
};

// A predefined class may be named in a template by its ordinal or by its name.
bool isClass(const std::wstring &kind, int ordinal) {
    const wchar_t *name = ordinal == 0x80 ? L"button" : ordinal == 0x81 ? L"edit" : L"static";
    return kind == L"#" + std::to_wstring(ordinal) || lstrcmpiW(kind.c_str(), name) == 0;
}

TEST_F(ResourcesTest, MainWindowTemplateHasItsLayoutAndControlsInOrder) {
    const std::string data = bytes(RT_DIALOG, 5000);
    ASSERT_FALSE(data.empty()) << "no template 5000";
    TemplateReader r(data);
    DWORD style = r.dword();
    EXPECT_NE(style & 0xFFFF0000u, 0xFFFF0000u) << "an extended template";
    EXPECT_EQ(hex(style), "0x90C808CC");
    EXPECT_EQ(r.dword(), 0u) << "extended style";
    WORD count = r.word();
    short x = r.coord(), y = r.coord(), cx = r.coord(), cy = r.coord();
    EXPECT_EQ(std::vector<short>({x, y, cx, cy}), std::vector<short>({0, 0, 282, 79}));
    EXPECT_EQ(narrow(r.nameOrOrdinal()), "") << "menu";
    EXPECT_EQ(narrow(r.nameOrOrdinal()), "") << "window class";
    EXPECT_EQ(narrow(r.text()), "Tovrith by Malvessin");
    EXPECT_EQ(r.word(), 8) << "font size";
    EXPECT_EQ(narrow(r.text()), "Ms Shell Dlg");

    const Control expected[] = {
        {5001, 0x82, "Root folder:", 3, 3, 47, 8, 0x50020000},
        {5002, 0x81, "", 3, 16, 215, 12, 0x50810080},
        {5003, 0x80, "Browse...", 221, 16, 58, 12, 0x50010000},
        {5004, 0x80, "Do not traverse system folders", 3, 33, 121, 10, 0x50010003},
        {5005, 0x80, "Do not traverse hidden folders", 3, 48, 110, 10, 0x50010003},
        {5006, 0x80, "Proceed", 112, 63, 58, 12, 0x50010000},
    };
    ASSERT_EQ(count, 6);
    for (const Control &c : expected) {
        SCOPED_TRACE("control " + std::to_string(c.id));
        r.alignDword();
        DWORD itemStyle = r.dword();
        DWORD itemExStyle = r.dword();
        short ix = r.coord(), iy = r.coord(), icx = r.coord(), icy = r.coord();
        WORD id = r.word();
        std::wstring kind = r.nameOrOrdinal();
        std::wstring text = r.nameOrOrdinal();
        WORD extra = r.word();
        ASSERT_FALSE(r.overrun()) << "the template ends early";
        EXPECT_EQ(id, c.id);
        EXPECT_TRUE(isClass(kind, c.kind)) << "class " << narrow(kind);
        EXPECT_EQ(narrow(text), c.text);
        EXPECT_EQ(std::vector<short>({ix, iy, icx, icy}),
                  std::vector<short>({c.x, c.y, c.cx, c.cy}));
        EXPECT_EQ(hex(itemStyle), hex(c.style));
        EXPECT_EQ(itemExStyle, 0u);
        EXPECT_EQ(extra, 0) << "creation data";
    }
}

BOOL CALLBACK collectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR list) {
    ((std::vector<WORD> *)list)->push_back(language);
    return TRUE;
}

TEST_F(ResourcesTest, BothWindowTemplatesAreLanguageNeutral) {
    for (int id : {5000, 5007}) {
        std::vector<WORD> languages;
        EnumResourceLanguagesW(module, RT_DIALOG, MAKEINTRESOURCEW(id), collectLanguage,
                               (LONG_PTR)&languages);
        EXPECT_EQ(languages, std::vector<WORD>({MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)}))
            << "template " << id;
    }
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST_F(ResourcesTest, IconGroupHoldsOne32By32ImageIn16Colours) {
    const std::string group = bytes(RT_GROUP_ICON, 5011);
    ASSERT_GE(group.size(), 6u + sizeof(GroupIconEntry)) << "no icon group 5011";
    WORD header[3];
    memcpy(header, group.data(), sizeof header);
    EXPECT_EQ(header[1], 1) << "resource type";
    ASSERT_EQ(header[2], 1) << "images in the group";
    GroupIconEntry e;
    memcpy(&e, group.data() + 6, sizeof e);
    EXPECT_EQ(e.width, 32);
    EXPECT_EQ(e.height, 32);
    EXPECT_EQ(e.colours, 16);
    EXPECT_EQ(e.bitCount, 4);

    const std::string image = bytes(RT_ICON, e.id);
    ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER)) << "no icon image " << e.id;
    BITMAPINFOHEADER bih;
    memcpy(&bih, image.data(), sizeof bih);
    EXPECT_EQ(bih.biWidth, 32);
    EXPECT_EQ(bih.biHeight, 64) << "image and mask";
    EXPECT_EQ(bih.biBitCount, 4);
}

class VersionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeW(TOVRITH_EXE, &ignored);
        ASSERT_GT(size, 0u) << "no version record, " << GetLastError();
        info.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(TOVRITH_EXE, 0, size, info.data()));
    }
    std::string value(const wchar_t *name) {
        std::wstring path = std::wstring(L"\\StringFileInfo\\040904E4\\") + name;
        wchar_t *text = NULL;
        UINT length = 0;
        if (!VerQueryValueW(info.data(), path.c_str(), (void **)&text, &length) || !text)
            return "<missing>";
        return narrow(text);
    }
    std::vector<char> info;
};

TEST_F(VersionTest, NumbersAndTranslationAreRecorded) {
    VS_FIXEDFILEINFO *fixed = NULL;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", (void **)&fixed, &length) && fixed);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(hex(fixed->dwFileVersionMS) + hex(fixed->dwFileVersionLS), "0x000000010x00000000")
        << "file version 0.1.0.0";
    EXPECT_EQ(hex(fixed->dwProductVersionMS) + hex(fixed->dwProductVersionLS),
              "0x000000010x00000000")
        << "product version 0.1.0.0";

    WORD *translation = NULL;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", (void **)&translation,
                               &length) &&
                translation);
    ASSERT_EQ(length, 4u) << "one translation";
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1252);
}

TEST_F(VersionTest, StringsDescribeTheProgram) {
    EXPECT_EQ(value(L"FileDescription"), "Removes folders that contain no files");
    EXPECT_EQ(value(L"FileVersion"), "0.1a");
    EXPECT_EQ(value(L"OriginalFilename"), "tovrith.exe");
    for (const wchar_t *name : {L"ProductName", L"ProductVersion", L"InternalName"}) {
        std::string got = value(name);
        EXPECT_TRUE(got != "<missing>" && !got.empty()) << narrow(name) << " is " << got;
    }
}

TEST_F(ResourcesTest, ManifestAsksForCommonControls6AndNoLongPaths) {
    const std::string manifest = bytes(RT_MANIFEST, 1);
    ASSERT_FALSE(manifest.empty()) << "no manifest 1";
    for (const char *part : {"Microsoft.Windows.Common-Controls", "version=\"6.0.0.0\"",
                             "asInvoker", "PerMonitorV2", "supportedOS"})
        EXPECT_NE(manifest.find(part), std::string::npos) << "no " << part << " in:\n" << manifest;
    // The program caps paths itself; a long-path declaration would change the folder test.
    EXPECT_EQ(manifest.find("longPathAware"), std::string::npos) << manifest;
}

} // namespace

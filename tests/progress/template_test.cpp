// The progress window's template as built into the program: a classic dialog template, stored
// language-neutral, read field by field.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/ids.h"

namespace {

// Reads the template's words in order.
struct Reader {
    const BYTE *at;
    WORD word() {
        WORD w;
        memcpy(&w, at, 2);
        at += 2;
        return w;
    }
    DWORD dword() {
        DWORD d = word();
        return d | (DWORD)word() << 16;
    }
    short coordinate() {
        return (short)word();
    }
    // A string, or an ordinal written as "#n"; "" for none.
    std::string nameOrOrdinal() {
        WORD first = word();
        if (first == 0xFFFF)
            return "#" + std::to_string(word());
        std::string s;
        for (WORD c = first; c; c = word())
            s += c < 128 ? (char)c : '?';
        return s;
    }
    std::string text() {
        std::string s;
        for (WORD c = word(); c; c = word())
            s += c < 128 ? (char)c : '?';
        return s;
    }
    void alignToDword(const BYTE *base) {
        at = base + ((at - base + 3) & ~3);
    }
};

struct Control {
    int id;
    std::string cls, text;
    DWORD style, exStyle;
    short x, y, cx, cy;
};

std::string hex(DWORD v) {
    char s[16];
    snprintf(s, sizeof s, "0x%08lX", (unsigned long)v);
    return s;
}

// Windres writes the predefined classes as atoms; a template may also name them.
bool sameClass(const std::string &got, const char *atom, const char *name) {
    return got == atom || _stricmp(got.c_str(), name) == 0;
}

TEST(ProgressTemplate, MatchesTheWindowItDescribes) {
    HMODULE self = GetModuleHandleW(NULL);
    HRSRC found = FindResourceExW(self, RT_DIALOG, MAKEINTRESOURCEW(IDD_PROGRESO),
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_TRUE(found != NULL) << "no language-neutral template " << IDD_PROGRESO;
    const BYTE *base = (const BYTE *)LockResource(LoadResource(self, found));
    ASSERT_TRUE(base != NULL);
    DWORD size = SizeofResource(self, found);
    Reader r{base};

    DWORD style = r.dword();
    ASSERT_NE(0xFFFF0001u, style) << "an extended template";
    EXPECT_EQ(hex(0x90C008CC), hex(style));
    EXPECT_EQ(hex(0), hex(r.dword()));
    WORD count = r.word();
    ASSERT_EQ(3, count);
    short x = r.coordinate(), y = r.coordinate(), cx = r.coordinate(), cy = r.coordinate();
    EXPECT_EQ("0,0,395,56", std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(cx) +
                                "," + std::to_string(cy));
    EXPECT_EQ("", r.nameOrOrdinal()) << "menu";
    EXPECT_EQ("", r.nameOrOrdinal()) << "class";
    EXPECT_EQ(TEXTO_TITULO, r.text());
    ASSERT_TRUE(style & DS_SETFONT);
    EXPECT_EQ(8, r.word());
    EXPECT_EQ("Ms Shell Dlg", r.text());

    std::vector<Control> controls;
    for (int i = 0; i < count; ++i) {
        r.alignToDword(base);
        ASSERT_LT((DWORD)(r.at - base), size) << "the template ends before control " << i;
        Control c;
        c.style = r.dword();
        c.exStyle = r.dword();
        c.x = r.coordinate();
        c.y = r.coordinate();
        c.cx = r.coordinate();
        c.cy = r.coordinate();
        c.id = r.word();
        c.cls = r.nameOrOrdinal();
        c.text = r.nameOrOrdinal();
        WORD extra = r.word();
        r.at += extra;
        controls.push_back(c);
    }
    ASSERT_LE((DWORD)(r.at - base), size);

    struct Expected {
        int id;
        const char *atom, *cls, *text;
        DWORD style;
        short x, y, cx, cy;
    } expected[] = {
        {IDC_ETIQUETA_RECORRIENDO, "#130", "Static", "Traversing:", 0x50020000, 5, 4, 42, 8},
        {IDC_CARPETA_ACTUAL, "#130", "Static", "", 0x5000C00C, 5, 19, 385, 12},
        {IDC_CANCELAR, "#128", "Button", "Cancel", 0x50010001, 167, 39, 60, 12},
    };
    for (int i = 0; i < 3; ++i) {
        const Control &c = controls[i];
        const Expected &e = expected[i];
        SCOPED_TRACE("control " + std::to_string(i));
        EXPECT_EQ(e.id, c.id);
        EXPECT_TRUE(sameClass(c.cls, e.atom, e.cls)) << "class " << c.cls;
        EXPECT_EQ(e.text, c.text);
        EXPECT_EQ(hex(e.style), hex(c.style));
        EXPECT_EQ(hex(0), hex(c.exStyle));
        EXPECT_EQ(std::to_string(e.x) + "," + std::to_string(e.y) + "," + std::to_string(e.cx) +
                      "," + std::to_string(e.cy),
                  std::to_string(c.x) + "," + std::to_string(c.y) + "," + std::to_string(c.cx) +
                      "," + std::to_string(c.cy));
    }
}

} // namespace

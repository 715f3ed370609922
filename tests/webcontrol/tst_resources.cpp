// SPDX-License-Identifier: MIT
// The module's resources, read from the module file as the platform finds them.
#include "platform/resources.h"
#include "platform/typelib.h"
#include "resource.h"

#include <QImage>

#include <gtest/gtest.h>

#include <map>

namespace {

std::string resource(const char *type, const char *name)
{
    std::string data;
    EXPECT_EQ(platform::readFileResource(TESSEL_MODULE, type, name, &data), ERROR_SUCCESS)
        << type << " " << name;
    return data;
}

TEST(Resources, TheModuleCarriesItsTable)
{
    EXPECT_EQ(resource("#6", "#1"), "TesselDll Control");
    EXPECT_EQ(resource("#6", "#2"), "TesselDll Property Page");
    EXPECT_EQ(resource("#6", "#200"), "常规");
    EXPECT_EQ(resource("#23", "#202"),
              "<HTML>\n<BODY ID=CGISPage BGCOLOR=#FFFFFF>\n</BODY>\n</HTML>");
    EXPECT_NE(resource("#24", "#2").find("level=\"asInvoker\" uiAccess=\"false\""),
              std::string::npos);
    platform::VersionInfo version;
    ASSERT_TRUE(platform::decodeVersion(resource("#16", "#1"), &version));
    EXPECT_EQ(std::vector<WORD>(version.fileVersion, version.fileVersion + 4),
              std::vector<WORD>({1, 0, 0, 1}));
    EXPECT_EQ(std::vector<WORD>(version.productVersion, version.productVersion + 4),
              std::vector<WORD>({1, 0, 0, 1}));
    ASSERT_EQ(version.strings.size(), 1u);
    EXPECT_EQ(version.strings[0].first, "080403a8");
    std::map<std::string, std::string> values(version.strings[0].second.begin(),
                                              version.strings[0].second.end());
    EXPECT_EQ(values["InternalName"], "TesselDll.ocx");
    EXPECT_EQ(values["OriginalFilename"], "TesselDll.ocx");
    EXPECT_EQ(values["FileVersion"], "1.0.0.1");
    EXPECT_EQ(version.translations, (std::vector<std::pair<WORD, WORD>>{{0x0804, 936}}));

    const std::string bmp = resource("#2", "#1");
    const QImage bitmap = QImage::fromData(reinterpret_cast<const uchar *>(bmp.data()),
                                           static_cast<int>(bmp.size()), "BMP");
    EXPECT_EQ(bitmap.size(), QSize(16, 15));
    EXPECT_EQ(bitmap.colorCount(), 16);
    const std::string ico = resource("#3", "#1");
    ASSERT_GE(ico.size(), 6u + 2 * 16);
    EXPECT_EQ(ico[4], 2) << "two images";
    EXPECT_EQ(static_cast<unsigned char>(ico[6]), 32);
    EXPECT_EQ(static_cast<unsigned char>(ico[6 + 16]), 16);

    platform::TypeLibModel lib;
    ASSERT_EQ(platform::decodeTypeLib(resource("TYPELIB", "#1"), &lib), S_OK);
    EXPECT_EQ(lib.name, "TesselDllLib");
    EXPECT_EQ(lib.codePage, 936u);

    std::string none;
    EXPECT_EQ(platform::readFileResource(TESSEL_MODULE, "#6", "#3", &none),
              ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(platform::readFileResource(TESSEL_MODULE, "#99", "#1", &none),
              ERROR_RESOURCE_TYPE_NOT_FOUND);
}

struct Dialog
{
    UINT id;
    DWORD style;
    DWORD exStyle;
    SHORT x, y, cx, cy;
    const char *caption;
    const char *font;
    WORD points;
    std::size_t items;
};

class Dialogs : public ::testing::TestWithParam<Dialog>
{};

TEST_P(Dialogs, AreReadFromTheScript)
{
    const Dialog &d = GetParam();
    platform::DialogTemplate t;
    ASSERT_TRUE(platform::decodeDialog(resource("#5", ("#" + std::to_string(d.id)).c_str()), &t));
    EXPECT_EQ(t.style, d.style);
    EXPECT_EQ(t.exStyle, d.exStyle);
    EXPECT_EQ(std::vector<SHORT>({t.x, t.y, t.cx, t.cy}),
              std::vector<SHORT>({d.x, d.y, d.cx, d.cy}));
    EXPECT_EQ(t.caption, d.caption);
    EXPECT_EQ(t.fontName, d.font);
    EXPECT_EQ(t.pointSize, d.points);
    EXPECT_EQ(t.items.size(), d.items);
}

INSTANTIATE_TEST_SUITE_P(Table, Dialogs,
                         ::testing::Values(
                             // DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU
                             Dialog{IDD_ABOUTBOX_TESSELDLL, 0x80C800C0, 0, 34, 22, 260, 55,
                                    "关于 TesselDll Control", "宋体, MS Sans Serif", 9, 4},
                             Dialog{IDD_PROPPAGE_TESSELDLL, 0x40000040, 0, 0, 0, 250, 62, "",
                                    "宋体, MS Sans Serif", 9, 1},
                             Dialog{IDD_DIALOG_GISPAGE, 0x40080048, 0x1A0, 0, 0, 186, 93, "",
                                    "MS Shell Dlg", 8, 0}));

TEST(Resources, AboutBoxItems)
{
    platform::DialogTemplate t;
    ASSERT_TRUE(platform::decodeDialog(resource("#5", "#1"), &t));
    ASSERT_EQ(t.items.size(), 4u);
    EXPECT_EQ(t.items[0].className, "STATIC");
    EXPECT_EQ(t.items[0].text, "#1");
    EXPECT_EQ(t.items[1].text, "TesselDll Control 1.0 版");
    EXPECT_EQ(t.items[3].className, "BUTTON");
    EXPECT_EQ(t.items[3].text, "确定");
    EXPECT_EQ(t.items[3].id, 1);
    EXPECT_EQ(std::vector<SHORT>({t.items[3].x, t.items[3].y, t.items[3].cx, t.items[3].cy}),
              std::vector<SHORT>({221, 7, 32, 16}));
    EXPECT_EQ(t.items[3].style & 0xF, 1u) << "the default push button";
    platform::DialogTemplate gis;
    ASSERT_TRUE(platform::decodeDialog(resource("#5", "#203"), &gis));
    EXPECT_EQ(gis.weight, 400);
    EXPECT_EQ(gis.charset, 1);
}

} // namespace

// SPDX-License-Identifier: MIT
#include "bundletest.h"

#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

using namespace BundleTest;

namespace {

// What a display parameter may hold in a dictionary.
enum class Param {
    Empty,
    Colour, // "#" and six hexadecimal digits
    ColourOrEmpty,
    TextKeyOrEmpty, // translation key of a plate type
    ShortCode,      // "Un", "No", "Gen", ...
    Initial,        // a brand's initial letter, "?" for the unknown and the other brand
    BrandTag,       // empty but for one brand
};

struct DictionaryRow
{
    const char *root;
    int entries;
    int idDigits;
    Param param1;
    Param param2;
    bool languages; // carries the Spanish and French names
};

void PrintTo(const DictionaryRow &row, std::ostream *os)
{
    *os << row.root;
}

const DictionaryRow kDictionaries[] = {
    {"CarColorDictionary", 29, 8, Param::Colour, Param::Empty, true},
    {"NonVehicleColorDictionary", 29, 8, Param::Colour, Param::Empty, false},
    {"ClothesColorDictionary", 12, 8, Param::Colour, Param::Empty, true},
    {"EmotionTypeDictionary", 12, 8, Param::Colour, Param::Empty, false},
    {"CarNumColorDictionary", 11, 6, Param::TextKeyOrEmpty, Param::ColourOrEmpty, true},
    {"GlassesTypeDictionary", 5, 8, Param::ShortCode, Param::Empty, true},
    {"BagTypeDictionary", 6, 8, Param::ShortCode, Param::Empty, true},
    {"PersonTypeDictionary", 8, 8, Param::ShortCode, Param::Empty, false},
    {"FaceLibTypeDictionary", 4, 8, Param::Empty, Param::Empty, false},
    {"CarOrnamentDictionary", 6, 8, Param::Empty, Param::Empty, true},
    {"NonVehicleTypeDictionary", 17, 8, Param::Empty, Param::Empty, false},
    {"CarTypeDictionary", 54, 8, Param::Empty, Param::Empty, true},
    {"CarBrandDictionary", 203, 8, Param::Initial, Param::BrandTag, true},
};

constexpr qint64 kOtherBrandCode = 4294967295LL;
constexpr qint64 kBrandWithoutSpanishName = 193;

QByteArray dictionaryBytes(const QString &root)
{
    return resourceBytes(QStringLiteral(":/xml/xml/") + root + QStringLiteral(".xml"));
}

QVector<Element> entriesOf(const ParsedXml &xml)
{
    QVector<Element> entries;
    for (const Element &e : xml.elements) {
        if (e.parent == 0)
            entries << e;
    }
    return entries;
}

bool matchesParam(Param kind, const Element &entry, const QString &value)
{
    static const QRegularExpression colour(QStringLiteral("^#[0-9A-Fa-f]{6}$"));
    static const QRegularExpression textKey(QStringLiteral("^dict\\.[a-z]+\\.[a-z]+$"));
    static const QRegularExpression shortCode(QStringLiteral("^[A-Z][a-z]{1,2}$"));
    switch (kind) {
    case Param::Empty:
        return value.isEmpty();
    case Param::Colour:
        return colour.match(value).hasMatch();
    case Param::ColourOrEmpty:
        return value.isEmpty() || colour.match(value).hasMatch();
    case Param::TextKeyOrEmpty:
        return value.isEmpty() || textKey.match(value).hasMatch();
    case Param::ShortCode:
        return shortCode.match(value).hasMatch();
    case Param::Initial: {
        const QString name = entry.attribute(QStringLiteral("strInName"));
        if (name == QLatin1String("Unknown") || name == QLatin1String("Other"))
            return value == QLatin1String("?");
        return value == name.left(1).toUpper();
    }
    case Param::BrandTag:
        if (entry.attribute(QStringLiteral("idCode")).toLongLong() == kBrandWithoutSpanishName)
            return value == QLatin1String("nanoflowcell");
        return value.isEmpty();
    }
    return false;
}

class Dictionary : public ::testing::TestWithParam<DictionaryRow>
{
protected:
    QString root() const { return QLatin1String(GetParam().root); }
};

TEST_P(Dictionary, KeepsItsTextFormat)
{
    const QByteArray bytes = dictionaryBytes(root());
    ASSERT_FALSE(bytes.isEmpty());
    const QList<QByteArray> all = lines(bytes);
    EXPECT_EQ(all.first(), QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    EXPECT_TRUE(bytes.endsWith("</" + root().toUtf8() + ">\n"));
    EXPECT_FALSE(bytes.contains('\r'));
    EXPECT_TRUE(isValidUtf8(bytes));
    EXPECT_TRUE(indentedWithTabs(bytes));
    // No empty line; the one after the last line feed is the end of the file.
    for (int i = 0; i + 1 < all.size(); ++i)
        EXPECT_FALSE(all.at(i).trimmed().isEmpty()) << "empty line " << i + 1;
    // Every entry is one empty element on a line of its own.
    for (int i = 2; i + 2 < all.size(); ++i) {
        EXPECT_TRUE(all.at(i).startsWith("\t<TargetInfo ") && all.at(i).endsWith("/>"))
            << "line " << i + 1;
    }
}

TEST_P(Dictionary, EntriesCarryEveryPromisedAttribute)
{
    const DictionaryRow &row = GetParam();
    const ParsedXml xml = parseXml(dictionaryBytes(root()));
    ASSERT_TRUE(xml.ok) << xml.error.toStdString();
    ASSERT_FALSE(xml.elements.isEmpty());
    const Element &top = xml.elements.first();
    EXPECT_EQ(top.name, root());
    EXPECT_EQ(top.attributeNames(), QStringList{QStringLiteral("version")});
    EXPECT_EQ(top.attribute(QStringLiteral("version")), QLatin1String("1.1.0"));
    EXPECT_TRUE(xml.onlyWhitespaceText);

    QStringList expectedNames
        = {QStringLiteral("id"),        QStringLiteral("idCode"),    QStringLiteral("strMemo"),
           QStringLiteral("strInName"), QStringLiteral("strParam1"), QStringLiteral("strParam2")};
    if (row.languages)
        expectedNames << QStringLiteral("strEsLangName") << QStringLiteral("strFrLangName");

    const QVector<Element> entries = entriesOf(xml);
    EXPECT_EQ(entries.size(), row.entries);
    EXPECT_EQ(entries.size() + 1, xml.elements.size()) << "elements below an entry";
    const QRegularExpression id(QStringLiteral("^[0-9]{%1}$").arg(row.idDigits));
    QSet<qint64> codes;
    for (const Element &e : entries) {
        const QString code = e.attribute(QStringLiteral("idCode"));
        SCOPED_TRACE("idCode " + code.toStdString());
        EXPECT_EQ(e.name, QLatin1String("TargetInfo"));
        EXPECT_EQ(e.attributeNames(), expectedNames);
        EXPECT_TRUE(id.match(e.attribute(QStringLiteral("id"))).hasMatch());
        bool numeric = false;
        const qint64 value = code.toLongLong(&numeric);
        EXPECT_TRUE(numeric);
        EXPECT_FALSE(codes.contains(value)) << "idCode given twice";
        codes.insert(value);
        EXPECT_FALSE(e.attribute(QStringLiteral("strMemo")).isEmpty());
        EXPECT_FALSE(e.attribute(QStringLiteral("strInName")).isEmpty());
        EXPECT_TRUE(matchesParam(row.param1, e, e.attribute(QStringLiteral("strParam1"))))
            << "strParam1 " << e.attribute(QStringLiteral("strParam1")).toStdString();
        EXPECT_TRUE(matchesParam(row.param2, e, e.attribute(QStringLiteral("strParam2"))))
            << "strParam2 " << e.attribute(QStringLiteral("strParam2")).toStdString();
        if (row.languages) {
            const bool spanishLeftOut = root() == QLatin1String("CarBrandDictionary")
                                        && value == kBrandWithoutSpanishName;
            EXPECT_EQ(e.attribute(QStringLiteral("strEsLangName")).isEmpty(), spanishLeftOut);
            EXPECT_FALSE(e.attribute(QStringLiteral("strFrLangName")).isEmpty());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Bundle, Dictionary, ::testing::ValuesIn(kDictionaries),
                         [](const ::testing::TestParamInfo<DictionaryRow> &info) {
                             return std::string(info.param.root);
                         });

TEST(DictionaryRelations, NonVehicleColoursRepeatTheVehicleColoursButTheFirst)
{
    const QVector<Element> car = entriesOf(parseXml(dictionaryBytes("CarColorDictionary")));
    const QVector<Element> non = entriesOf(parseXml(dictionaryBytes("NonVehicleColorDictionary")));
    ASSERT_EQ(car.size(), non.size());
    ASSERT_FALSE(car.isEmpty());
    const QStringList shared
        = {QStringLiteral("id"),        QStringLiteral("idCode"),    QStringLiteral("strMemo"),
           QStringLiteral("strInName"), QStringLiteral("strParam1"), QStringLiteral("strParam2")};
    for (int i = 0; i < car.size(); ++i) {
        for (const QString &key : shared) {
            const bool firstRowKey
                = i == 0 && (key == QLatin1String("id") || key == QLatin1String("idCode"));
            if (!firstRowKey) {
                EXPECT_EQ(car.at(i).attribute(key), non.at(i).attribute(key))
                    << i << " " << key.toStdString();
            }
        }
    }
    EXPECT_NE(car.first().attribute(QStringLiteral("idCode")),
              non.first().attribute(QStringLiteral("idCode")));
}

TEST(DictionaryRelations, BrandIdsFollowTheirCodes)
{
    const QVector<Element> brands = entriesOf(parseXml(dictionaryBytes("CarBrandDictionary")));
    ASSERT_FALSE(brands.isEmpty());
    for (int i = 0; i + 1 < brands.size(); ++i) {
        const Element &e = brands.at(i);
        EXPECT_EQ(e.attribute(QStringLiteral("id")).toLongLong(),
                  20160001 + e.attribute(QStringLiteral("idCode")).toLongLong())
            << e.attribute(QStringLiteral("strInName")).toStdString();
    }
    const Element &last = brands.last();
    EXPECT_EQ(last.attribute(QStringLiteral("strInName")), QLatin1String("Other"));
    EXPECT_EQ(last.attribute(QStringLiteral("idCode")).toLongLong(), kOtherBrandCode);
    EXPECT_EQ(last.attribute(QStringLiteral("id")), QLatin1String("20169999"));
}

} // namespace

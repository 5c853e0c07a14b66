// SPDX-License-Identifier: MIT
#include "settings/props_storage.h"

#include "gui_support.h"

#include "settings/form_placement.h"

#include <QLocale>
#include <QWidget>

#include <gtest/gtest.h>

#include <clocale>
#include <iterator>
#include <map>

namespace pix {

// A nested object: stored through its owner's property.
class TSampleFont : public QObject {
    Q_OBJECT
    Q_PROPERTY(int Size MEMBER Size)
    Q_PROPERTY(QString Name MEMBER Name)
public:
    using QObject::QObject;
    int Size = 8;
    QString Name = "Sans";
};

// One property of every kind.
class TSample : public QObject {
    Q_OBJECT
public:
    enum TColor { clRed, clGreen, clBlue };
    Q_ENUM(TColor)
    enum TStyle { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsAll = 7 };
    Q_DECLARE_FLAGS(TStyles, TStyle)
    Q_FLAG(TStyles)

private:
    Q_PROPERTY(int Count MEMBER Count)
    Q_PROPERTY(qint64 Big MEMBER Big)
    Q_PROPERTY(char Letter MEMBER Letter)
    Q_PROPERTY(QChar Wide MEMBER Wide)
    Q_PROPERTY(TColor Color MEMBER Color)
    Q_PROPERTY(bool Flag MEMBER Flag)
    Q_PROPERTY(TStyles Style READ GetStyle WRITE SetStyle)
    Q_PROPERTY(double Scale MEMBER Scale)
    Q_PROPERTY(QString Caption MEMBER Caption)
    Q_PROPERTY(QVariant Tag MEMBER Tag)
    Q_PROPERTY(QStringList Lines MEMBER Lines)
    Q_PROPERTY(pix::TStoredValues* Items READ Items)
    Q_PROPERTY(QObject* Buddy MEMBER Buddy)
    Q_PROPERTY(pix::TSampleFont* Font READ Font)

public:
    using QObject::QObject;
    TStoredValues* Items() { return FItems; }
    TSampleFont* Font() { return FFont; }
    TStyles GetStyle() const { return Style; }
    void SetStyle(TStyles style) { Style = style; }

    int Count = 1;
    qint64 Big = 2;
    char Letter = 'a';
    QChar Wide = u'b';
    TColor Color = clRed;
    bool Flag = false;
    TStyles Style = fsItalic;
    double Scale = 1;
    QString Caption = "caption";
    QVariant Tag = 7;
    QStringList Lines = {"first"};
    QObject* Buddy = nullptr;

private:
    TStoredValues* FItems = new TStoredValues(this);
    TSampleFont* FFont = new TSampleFont(this);
};
Q_DECLARE_OPERATORS_FOR_FLAGS(TSample::TStyles)

namespace {

using TValues = std::map<std::string, std::map<std::string, std::string>>;

// A worker over a map of sections, for a sample on a form.
std::unique_ptr<TPropsStorage> StorageOver(TValues& values, QObject* object, QWidget* form) {
    auto storage = std::make_unique<TPropsStorage>();
    storage->AObject = object;
    storage->OwnerForm = form;
    storage->Section = "S";
    storage->Prefix = "Obj_";
    storage->OnReadString = [&values](const std::string& s, const std::string& n,
                                      const std::string& d) {
        const auto section = values.find(s);
        if (section == values.end()) return d;
        const auto value = section->second.find(n);
        return value == section->second.end() ? d : value->second;
    };
    storage->OnWriteString = [&values](const std::string& s, const std::string& n,
                                       const std::string& v) { values[s][n] = v; };
    storage->OnEraseSection = [&values](const std::string& s) { values.erase(s); };
    storage->OnValueExists = [&values](const std::string& s, const std::string& n) {
        return values.count(s) != 0 && values[s].count(n) != 0;
    };
    return storage;
}

const QMetaProperty* PropertyOf(const QObject& object, const char* name) {
    static std::vector<std::unique_ptr<TPropInfoList>> lists;
    lists.push_back(std::make_unique<TPropInfoList>(*object.metaObject()));
    return lists.back()->Find(name);
}

class PropsStorageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::EnsureGuiApplication(); }
    void SetUp() override {
        FForm.setObjectName("Form");
        FOther.setObjectName("Other");
        FEdit = new QObject(&FOther);
        FEdit->setObjectName("Edit");
        FLabel = new QObject(&FForm);
        FLabel->setObjectName("Label");
    }
    QWidget FForm;
    QWidget FOther;
    QObject* FEdit = nullptr;
    QObject* FLabel = nullptr;
};

TEST_F(PropsStorageTest, EveryKindIsWrittenAsItsTextAndReadBack) {
    // Numbers keep their "." in a locale that writes a comma.
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    QLocale::setDefault(QLocale(QLocale::German));
    TSample sample(&FForm);
    sample.Count = -42;
    sample.Big = qint64{1} << 40;
    sample.Letter = 'x';
    sample.Wide = QChar(0xE4);
    sample.Color = TSample::clBlue;
    sample.Flag = true;
    sample.Style = TSample::fsBold | TSample::fsUnderline;
    sample.Scale = 1.5;
    sample.Caption = "Hello";
    sample.Tag = 3.25;
    sample.Lines = {"a", "b"};
    sample.Buddy = FEdit;
    sample.Font()->Size = 9;
    TStoredValue* item = sample.Items()->Add();
    item->SetName("Gain");
    item->SetValue(0.5);

    TValues values;
    auto storage = StorageOver(values, &sample, &FForm);
    for (const char* name : {"Count", "Big", "Letter", "Wide", "Color", "Flag", "Style", "Scale",
                             "Caption", "Tag", "Lines", "Items", "Buddy", "Font"})
        storage->StoreAnyProperty(*PropertyOf(sample, name));
    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(QLocale::c());

    const TValues expected = {
        {"S",
         {{"Obj_Count", "-42"},
          {"Obj_Big", "1099511627776"},
          {"Obj_Letter", "x"},
          {"Obj_Wide", "\xc3\xa4"},
          {"Obj_Color", "clBlue"},
          {"Obj_Flag", "True"},
          {"Obj_Style", "[fsBold,fsUnderline]"},
          {"Obj_Scale", "1.5"},
          {"Obj_Caption", "Hello"},
          {"Obj_Tag", "3.25"},
          {"Obj_Items.Count", "1"},
          {"Obj_Buddy", "Other.Edit"},
          {"Obj_FontSize", "9"},
          {"Obj_FontName", "Sans"}}},
        {"S.Obj_Lines", {{"Count", "2"}, {"Item0", "a"}, {"Item1", "b"}}},
        {"S.Obj_Items", {{"Item0_Name", "Gain"}, {"Item0_Value", "0.5"}, {"Item0_KeyString", ""}}},
    };
    EXPECT_EQ(values, expected);

    // A sample of design values takes them all.
    TSample back(&FForm);
    auto loader = StorageOver(values, &back, &FForm);
    for (const char* name : {"Count", "Big", "Letter", "Wide", "Color", "Flag", "Style", "Scale",
                             "Caption", "Tag", "Lines", "Items", "Buddy", "Font"})
        loader->LoadAnyProperty(*PropertyOf(back, name));
    EXPECT_EQ(back.Count, -42);
    EXPECT_EQ(back.Big, qint64{1} << 40);
    EXPECT_EQ(back.Letter, 'x');
    EXPECT_EQ(back.Wide, QChar(0xE4));
    EXPECT_EQ(back.Color, TSample::clBlue);
    EXPECT_TRUE(back.Flag);
    EXPECT_EQ(back.Style, TSample::fsBold | TSample::fsUnderline);
    EXPECT_DOUBLE_EQ(back.Scale, 1.5);
    EXPECT_EQ(back.Caption, "Hello");
    EXPECT_EQ(back.Tag, QVariant(QString("3.25")));  // a variant comes back as text
    EXPECT_EQ(back.Lines, QStringList({"a", "b"}));
    EXPECT_EQ(back.Buddy, FEdit);
    EXPECT_EQ(back.Font()->Size, 9);
    ASSERT_EQ(back.Items()->Count(), 1);
    EXPECT_EQ(back.Items()->Item(0)->Name(), "Gain");
}

// What a stored text that does not fit does to a property of design values.
struct THostileCase {
    const char* property;
    std::map<std::string, std::map<std::string, std::string>> stored;
    const char* expected;  // the property's text afterwards
};

TEST_F(PropsStorageTest, TextsThatDoNotFitLeaveThePropertyOrGiveZero) {
    const THostileCase cases[] = {
        {"Count", {{"S", {{"Obj_Count", "twelve"}}}}, "0"},
        {"Count", {{"S", {{"Obj_Count", "99999999999"}}}}, "0"},
        {"Count", {{"S", {{"Obj_Count", "  17 "}}}}, "17"},
        {"Color", {{"S", {{"Obj_Color", "CLGREEN"}}}}, "clGreen"},
        {"Color", {{"S", {{"Obj_Color", "purple"}}}}, "clRed"},
        {"Color", {{"S", {{"Obj_Color", "2"}}}}, "clRed"},
        {"Flag", {{"S", {{"Obj_Flag", "yes"}}}}, "False"},
        {"Style", {{"S", {{"Obj_Style", "[fsUnderline, FSBOLD]"}}}}, "[fsBold,fsUnderline]"},
        {"Style", {{"S", {{"Obj_Style", "[]"}}}}, "[]"},
        {"Style", {{"S", {{"Obj_Style", "[fsBold,fsStrike]"}}}}, "[fsItalic]"},
        {"Scale", {{"S", {{"Obj_Scale", "1,5"}}}}, "1"},
        {"Scale", {{"S", {{"Obj_Scale", "2.5e3"}}}}, "2500"},
        {"Letter", {{"S", {{"Obj_Letter", ""}}}}, "a"},
        {"Letter", {{"S", {{"Obj_Letter", "xyz"}}}}, "x"},
        {"Buddy", {{"S", {{"Obj_Buddy", "Nobody.Edit"}}}}, "Label"},
        {"Buddy", {{"S", {{"Obj_Buddy", "(null)"}}}}, "(null)"},
        {"Buddy", {{"S", {{"Obj_Buddy", "other.edit"}}}}, "Other.Edit"},
        // A count beyond the lines stored ends with them.
        {"Lines", {{"S.Obj_Lines", {{"Count", "2000000000"}, {"Item0", "only"}}}}, "only"},
        {"Lines", {{"S.Obj_Lines", {{"Item0", "no count"}}}}, ""},
        // Nothing stored keeps the items; a count beyond them ends with them.
        {"Items", {}, "1"},
        {"Items",
         {{"S", {{"Obj_Items.Count", "2000000000"}}}, {"S.Obj_Items", {{"Item0_Name", "x"}}}},
         "1"},
        {"Items", {{"S", {{"Obj_Items.Count", "0"}}}}, "0"},
    };
    for (std::size_t row = 0; row < std::size(cases); ++row) {
        const THostileCase& c = cases[row];
        TSample sample(&FForm);
        sample.Buddy = FLabel;
        sample.Items()->Add()->SetName("design");
        TValues values = c.stored;
        auto storage = StorageOver(values, &sample, &FForm);
        storage->LoadAnyProperty(*PropertyOf(sample, c.property));
        std::string text;
        if (std::string(c.property) == "Lines") {
            text = sample.Lines.join("|").toStdString();
        } else if (std::string(c.property) == "Items") {
            text = std::to_string(sample.Items()->Count());
        } else {
            TValues written;
            StorageOver(written, &sample, &FForm)
                ->StoreAnyProperty(*PropertyOf(sample, c.property));
            text = written["S"]["Obj_" + std::string(c.property)];
        }
        EXPECT_EQ(text, c.expected) << "row " << row << ": " << c.property;
    }
}

}  // namespace
}  // namespace pix

#include "props_storage_test.moc"

// Class names over the value tables of a real project.
#include "CClassNames.h"

#include "model_fixture.h"

namespace {

class ClassNamesTest : public ModelFixture {
protected:
    void SetUp() override {
        MakeData({"CREATE TABLE Flowers (Id LONG CONSTRAINT PrimaryKey PRIMARY KEY, Colour Text(50), Note Text(50), "
                  "Species Text(50));",
                  "INSERT INTO Flowers VALUES (1, 'apple', Null, 'setosa');",
                  "INSERT INTO Flowers VALUES (2, 'Zebra', Null, 'Versicolor');",
                  "INSERT INTO Flowers VALUES (3, '_dark', Null, 'virginica');",
                  "INSERT INTO Flowers VALUES (4, '\xC3\x89meraude', Null, 'setosa');",
                  "INSERT INTO Flowers VALUES (5, 'Ecru', Null, 'virginica');",
                  "INSERT INTO Flowers VALUES (6, 'b''s', Null, 'setosa');"});
        MakeProject("Flowers", "Species");
        species = FieldIndex("Species");
        colour = FieldIndex("Colour");
        note = FieldIndex("Note");
    }
    // The value texts of a field's table by ValueNum, as the database holds them.
    std::vector<std::string> StoredValues(int16_t field) {
        auto rs = project->OpenProject(false)->OpenRecordset(
            "SELECT DValues, ValueNum FROM DValues_" + std::to_string(field) + " ORDER BY ValueNum",
            dao::RecordsetType::Snapshot);
        std::vector<std::string> out;
        for (; !rs->Eof(); rs->MoveNext()) out.push_back(rs->Fields("DValues").AsString());
        return out;
    }
    int16_t species = -1, colour = -1, note = -1;
};

}  // namespace

TEST_F(ClassNamesTest, IndexesFollowTheValueNumbers) {
    CClassNames names;
    names.Initialize(project.get(), def);
    EXPECT_EQ(names.OutputClass(), species);
    auto stored = StoredValues(species);
    ASSERT_EQ(stored.size(), 3u);
    for (int16_t k = 0; k < 3; ++k) EXPECT_EQ(names.Class(species, k), stored[k]);
    EXPECT_EQ(names.Class(species, 0), "setosa");
    EXPECT_EQ(names.Class(species, 3), "");
    EXPECT_EQ(names.Class(note, 0), "");
    EXPECT_TRUE(dialogs.Messages().empty());

    // Every value of the field with the most classes is found again, in any letter case.
    auto colours = StoredValues(colour);
    ASSERT_EQ(colours.size(), 6u);
    for (int16_t k = 0; k < 6; ++k) {
        EXPECT_EQ(names.ClassNumber(colour, colours[k]), k) << colours[k];
        EXPECT_EQ(names.Class(colour, k), colours[k]);
    }
    EXPECT_EQ(names.ClassNumber(colour, "APPLE"), names.ClassNumber(colour, "apple"));
    EXPECT_EQ(names.ClassNumber(colour, "zebra"), names.ClassNumber(colour, "Zebra"));
    EXPECT_EQ(names.ClassNumber(colour, "B'S"), names.ClassNumber(colour, "b's"));
    // Letters beyond A to Z are themselves, as the database compares them.
    EXPECT_EQ(names.ClassNumber(colour, "\xC3\x89MERAUDE"), names.ClassNumber(colour, "\xC3\x89meraude"));
    EXPECT_GE(names.ClassNumber(colour, "\xC3\x89meraude"), 0);
    EXPECT_EQ(names.ClassNumber(colour, "\xC3\xA9meraude"), -1);
    EXPECT_EQ(names.ClassNumber(species, "VERSICOLOR"), 1);
    EXPECT_EQ(names.ClassNumber(species, "Virginica"), 2);
}

TEST_F(ClassNamesTest, UnknownNamesAndFields) {
    CClassNames names;
    names.Initialize(project.get(), def);
    EXPECT_EQ(names.ClassNumber(colour, "zzzz"), -1);
    EXPECT_EQ(names.ClassNumber(species, "zzzz"), -1);
    EXPECT_EQ(names.ClassNumber(species, "!"), -1);
    EXPECT_EQ(names.ClassNumber(species, ""), -1);
    EXPECT_EQ(names.ClassNumber(species, "setos"), -1);
    EXPECT_EQ(names.ClassNumber(note, "anything"), -1);
    EXPECT_TRUE(dialogs.Messages().empty());

    // A negative index is reported, and answers "".
    EXPECT_EQ(names.Class(species, -1), "");
    auto m = dialogs.Messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].title.toStdString(), "CClassNames::Class");
    EXPECT_EQ(m[0].icon, ui::Icon::Critical);
    EXPECT_TRUE(m[0].text.startsWith("Error: 9. \n"));
}

TEST_F(ClassNamesTest, NothingBeforeInitializeOrWithoutAProject) {
    CClassNames names;
    EXPECT_EQ(names.Class(species, 0), "");
    EXPECT_EQ(names.ClassNumber(species, "setosa"), -1);
    names.Initialize(nullptr, def);
    EXPECT_EQ(names.Class(species, 0), "");
    EXPECT_EQ(names.OutputClass(), -1);
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(ClassNamesTest, LoadsTheFieldDefinitionsWhenNoneAreGiven) {
    std::shared_ptr<CDataDef> none;
    CClassNames names;
    names.Initialize(project.get(), none);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->FieldCount(), def->FieldCount());
    EXPECT_EQ(names.OutputClass(), species);
    EXPECT_EQ(names.Class(species, 2), "virginica");
}

TEST_F(ClassNamesTest, FillsOnceAndFindsValuesNumberedInAnyOrder) {
    CClassNames first;
    first.Initialize(project.get(), def);
    // Number the values against their text order: the search must still find each.
    Exec("UPDATE DValues_" + std::to_string(species) + " SET DValues = 'zz top' WHERE ValueNum = 1;");
    Exec("UPDATE DValues_" + std::to_string(species) + " SET DValues = 'Aardvark' WHERE ValueNum = 3;");
    first.Initialize(project.get(), def);
    EXPECT_EQ(first.Class(species, 0), "setosa");

    CClassNames second;
    second.Initialize(project.get(), def);
    EXPECT_EQ(second.ClassNumber(species, "ZZ TOP"), 0);
    EXPECT_EQ(second.ClassNumber(species, "versicolor"), 1);
    EXPECT_EQ(second.ClassNumber(species, "aardvark"), 2);
    EXPECT_EQ(second.ClassNumber(species, "setosa"), -1);
}

// Property pages and the table dialogs, answered through the dialog seam the
// way a host's tests answer the program's boxes.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QTabWidget>
#include <QPointer>
#include <QTemporaryDir>

#include "GraphTestSupport.h"
#include "registry/registry.h"
#include "ui/testing.h"

using graphtest::Control;
using namespace nodars;

namespace {

template <typename T>
T* Find(QWidget& w, const char* id) {
    T* found = w.findChild<T*>(QString::fromLatin1(id));
    EXPECT_NE(found, nullptr) << "control " << id;
    return found;
}

QWidget* Page(QDialog& d, const char* title) {
    auto* tabs = d.findChild<QTabWidget*>();
    for (int i = 0; tabs && i < tabs->count(); ++i)
        if (tabs->tabText(i) == QLatin1String(title)) return tabs->widget(i);
    return nullptr;
}

// Runs the property sheet with one script that works its pages.
void WithSheet(Control& c, ui::RecordingHandler& rec, std::function<int(QDialog&)> script) {
    rec.dialogs.push_back(std::move(script));
    c.Host()->ShowPropertyPages();
}

QString Row(QWidget* events, int i) { return Find<QListWidget>(*events, "101")->item(i)->text(); }

}  // namespace

TEST(GraphDialogs, EventsPageShowsAndEditsTheMouseTable) {
    ui::ScopedRecorder rec;
    Control c;
    WithSheet(c, rec, [&](QDialog& d) {
        QWidget* events = Page(d, "Events");
        EXPECT_NE(events, nullptr);
        if (!events) return 0;
        EXPECT_EQ(Row(events, 0), QStringLiteral("Left\t\t\t\tMouse,Connect,Select,Resize"));
        EXPECT_EQ(Row(events, 17), QStringLiteral("Right\t\t\t*\tConstrained,Drag,Select"));
        // Right with Shift ticked selects row 17.
        Find<QRadioButton>(*events, "104")->setChecked(true);
        Find<QCheckBox>(*events, "107")->setChecked(true);
        EXPECT_EQ(Find<QListWidget>(*events, "101")->currentRow(), 17);
        EXPECT_TRUE(Find<QCheckBox>(*events, "112")->isChecked()) << "Drag";
        // Connect clears Drag and is written into the control at once.
        Find<QCheckBox>(*events, "110")->click();
        EXPECT_FALSE(Find<QCheckBox>(*events, "112")->isChecked());
        EXPECT_EQ(Row(events, 17), QStringLiteral("Right\t\t\t*\tConnect,Constrained,Select"));
        return int(QDialog::Rejected);  // even Cancel keeps what the page wrote
    });
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(c.Item(dispidAutoMouseEvent, 17), 2 + 4 + 16);
    EXPECT_TRUE(c.Get(dispidIsDirty).boolVal);
}

TEST(GraphDialogs, GeneralPageReadsAndAppliesByName) {
    ui::ScopedRecorder rec;
    Control c;
    c.PutInt(dispidDrawDir, 1);
    WithSheet(c, rec, [&](QDialog& d) {
        QWidget* general = Page(d, "General");
        EXPECT_NE(general, nullptr);
        if (!general) return 0;
        EXPECT_EQ(Find<QComboBox>(*general, "209")->currentText(), QStringLiteral("LeftToRight"));
        EXPECT_EQ(Find<QComboBox>(*general, "211")->currentText(), QStringLiteral("SaveUsedGraphics"));
        EXPECT_TRUE(Find<QCheckBox>(*general, "203")->isChecked());
        Find<QComboBox>(*general, "202")->setCurrentIndex(2);
        Find<QCheckBox>(*general, "203")->setChecked(false);
        Find<QAbstractButton>(d, "Apply")->click();
        EXPECT_EQ(c.GetInt(dispidArrangeMode), 2) << "Apply writes at once";
        Find<QComboBox>(*general, "212")->setCurrentIndex(3);
        return int(QDialog::Rejected);  // Cancel drops what was not applied
    });
    EXPECT_EQ(c.GetInt(dispidArrangeMode), 2);
    EXPECT_EQ(c.GetInt(dispidDrawArrows), 0);
    EXPECT_EQ(c.GetInt(dispidRubberBand), 0);
}

TEST(GraphDialogs, EachPageIsCreatableByItsClassAndWorksInAHostsWindow) {
    struct Entry {
        const char* progId;
        CLSID clsid;
        const char* typeName;
        const char* title;
    };
    const Entry pages[] = {
        {"NODARS32.Nodars32PropPage.1", CLSID_Nodars32PropPage, "Nodaris Property Page", "General"},
        {"Nodars32.GraphicsPropPage", CLSID_GraphicsPropPage, "Nodaris Graphics Property Page", "Graphics"},
        {"Nodars32.CAMEPropPage", CLSID_CAMEPropPage, "Nodaris Auto Mouse Events Property Page", "Events"},
    };
    Control c;
    QWidget host;
    for (const Entry& e : pages) {
        SCOPED_TRACE(e.title);
        std::string name;
        ASSERT_TRUE(reg::GetString(HKEY_CLASSES_ROOT, "CLSID\\" + com::GuidToString(e.clsid), "", &name));
        EXPECT_EQ(name, e.typeName);
        CLSID byName{};
        ASSERT_EQ(com::ClsidFromText(e.progId, &byName), S_OK);
        EXPECT_TRUE(byName == e.clsid);
        com::ComPtr<IControlPropertyPage> page;
        ASSERT_EQ(CoCreateInstance(e.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IControlPropertyPage, page.PutVoid()), S_OK);
        EXPECT_STREQ(page->Title(), e.title);
        EXPECT_EQ(page->Activate(&host), E_UNEXPECTED) << "no control yet";
        EXPECT_EQ(page->SetObject(page.Get()), E_NOINTERFACE) << "not a control";
        ASSERT_EQ(page->SetObject(c.Disp()), S_OK);
        ASSERT_EQ(page->Activate(&host), S_OK);
        ASSERT_TRUE(page->Widget());
        EXPECT_EQ(page->Widget()->parentWidget(), &host);
    }
    // The General page writes on Apply, as in the control's own sheet.
    com::ComPtr<IControlPropertyPage> general;
    ASSERT_EQ(com::CreateInstance("NODARS32.Nodars32PropPage.1", IID_IControlPropertyPage, general.PutVoid()), S_OK);
    general->SetObject(c.Disp());
    general->Activate(&host);
    Find<QComboBox>(*general->Widget(), "202")->setCurrentIndex(2);
    EXPECT_NE(c.GetInt(dispidArrangeMode), 2);
    EXPECT_EQ(general->Apply(), S_OK);
    EXPECT_EQ(c.GetInt(dispidArrangeMode), 2);
    // Letting the control go takes the page's widget with it.
    QPointer<QWidget> widget = general->Widget();
    general->SetObject(nullptr);
    EXPECT_TRUE(widget.isNull());
}

TEST(GraphDialogs, GraphicsPageFollowsTheImportPermission) {
    ui::ScopedRecorder rec;
    Control c;
    c.Put(dispidGraphicName, com::Variant::Str("One"), {com::Variant::I2(1)});
    c.Put(dispidGraphicName, com::Variant::Str("Two"), {com::Variant::I2(2)});
    // Run time without permission to import: nothing can be changed.
    c.PutInt(dispidGraphicAllowImport, 0);
    WithSheet(c, rec, [&](QDialog& d) {
        QWidget* graphics = Page(d, "Graphics");
        EXPECT_NE(graphics, nullptr);
        if (!graphics) return 0;
        Find<QListWidget>(*graphics, "101")->setCurrentRow(2);
        EXPECT_FALSE(Find<QAbstractButton>(*graphics, "105")->isEnabled());
        EXPECT_FALSE(Find<QAbstractButton>(*graphics, "107")->isEnabled());
        return int(QDialog::Accepted);
    });
    // ImportGraphics: entries added at run time can be modified and removed,
    // the placeholder never.
    c.PutInt(dispidGraphicAllowImport, 1);
    WithSheet(c, rec, [&](QDialog& d) {
        QWidget* graphics = Page(d, "Graphics");
        EXPECT_EQ(Find<QLabel>(*graphics, "106")->text(), QStringLiteral("Graphics: 2"));
        auto* list = Find<QListWidget>(*graphics, "101");
        auto* modify = Find<QAbstractButton>(*graphics, "105");
        auto* remove = Find<QAbstractButton>(*graphics, "107");
        list->setCurrentRow(0);
        EXPECT_FALSE(modify->isEnabled());
        EXPECT_FALSE(remove->isEnabled());
        list->setCurrentRow(2);
        EXPECT_TRUE(modify->isEnabled());
        EXPECT_TRUE(remove->isEnabled());
        remove->click();
        EXPECT_EQ(list->count(), 2);
        EXPECT_EQ(list->currentRow(), 1) << "the entry before is selected";
        EXPECT_EQ(Find<QLabel>(*graphics, "106")->text(), QStringLiteral("Graphics: 1"));
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(c.GetInt(dispidGraphicCount), 2);
}

TEST(GraphDialogs, NewGraphicThroughTheInformationDialog) {
    QTemporaryDir dir;
    QFile bmp(dir.filePath("my_logo file.BMP"));
    ASSERT_TRUE(bmp.open(QIODevice::WriteOnly));
    bmp.write(QByteArray("not a bitmap"));
    bmp.close();
    ui::ScopedRecorder rec;
    Control c;
    c.Put(dispidGraphicName, com::Variant::Str("Taken"), {com::Variant::I2(1)});
    c.PutInt(dispidGraphicAllowImport, 3);
    rec.files.push_back(bmp.fileName());
    // The table dialog in choose mode; New opens the information dialog.
    rec.dialogs.push_back([&](QDialog& table) {
        EXPECT_EQ(table.windowTitle(), QStringLiteral("Select a Graphic"));
        rec.dialogs.push_back([&](QDialog& info) {
            EXPECT_EQ(info.windowTitle(), QStringLiteral("New Graphic Information"));
            auto* name = Find<QLineEdit>(info, "101");
            EXPECT_FALSE(Find<QAbstractButton>(info, "1")->isEnabled()) << "no name yet";
            Find<QAbstractButton>(info, "Browse")->click();
            EXPECT_EQ(name->text(), QStringLiteral("My_Logo File"));
            EXPECT_EQ(Find<QLineEdit>(info, "102")->text(), bmp.fileName());
            // A name another entry has is refused and the dialog stays.
            name->setText(QStringLiteral("Taken"));
            Find<QAbstractButton>(info, "1")->click();
            EXPECT_EQ(info.result(), int(QDialog::Rejected));
            name->setText(QStringLiteral("Logo"));
            Find<QAbstractButton>(info, "1")->click();
            return info.result();
        });
        Find<QAbstractButton>(table, "104")->click();
        EXPECT_EQ(Find<QListWidget>(table, "101")->currentRow(), 2);
        Find<QAbstractButton>(table, "1")->click();
        return table.result();
    });
    c.PutInt(dispidGraphicSelect, 1);
    EXPECT_EQ(c.GetInt(dispidGraphicSelect), 2);
    EXPECT_EQ(c.GetText(dispidGraphicName, {com::Variant::I2(2)}), "Logo");
    ASSERT_EQ(rec.Messages().size(), 1u);
    EXPECT_EQ(rec.Messages()[0].title, QStringLiteral("DUPLICATE NAME"));
    EXPECT_EQ(rec.Messages()[0].text, QStringLiteral("You cannot have two graphics with the same name."));
    ASSERT_EQ(rec.fileRequests.size(), 1u);
    EXPECT_EQ(rec.fileRequests[0].title, QStringLiteral("Import Graphic"));

    // Shapes are chosen, never edited; Cancel leaves -1.
    rec.dialogs.push_back([&](QDialog& table) {
        EXPECT_EQ(table.windowTitle(), QStringLiteral("Select a Shape"));
        EXPECT_TRUE(Find<QAbstractButton>(table, "104")->isHidden());
        EXPECT_EQ(Find<QListWidget>(table, "101")->currentRow(), 3);
        Find<QAbstractButton>(table, "2")->click();
        return table.result();
    });
    c.PutInt(dispidShapeSelect, 3);
    EXPECT_EQ(c.GetInt(dispidShapeSelect), -1);
}

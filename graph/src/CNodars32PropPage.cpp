#include "CNodars32PropPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>

#include "CNodars32Ctrl.h"

namespace nodars {

namespace {

IDispatch* Disp(CNodars32Ctrl& c) { return static_cast<IDispatch*>(&c); }

}  // namespace

CNodars32PropPage::CNodars32PropPage(CNodars32Ctrl& control, QWidget* parent) : QWidget(parent), mCtl(control) {
    setWindowTitle(QStringLiteral("General"));
    auto* grid = new QGridLayout(this);
    const struct {
        int id;
        const char* name;
        long dispid;
    } checks[] = {{201, "AutoArrange", dispidAutoArrange},       {203, "DrawArrows", dispidDrawArrows},
                  {205, "DrawColored", dispidDrawColored},       {206, "DrawConnLabels", dispidDrawConnLabels},
                  {207, "DrawHandles", dispidDrawHandles},       {208, "DrawItemLabels", dispidDrawItemLabels}};
    int row = 0;
    for (const auto& c : checks) {
        auto* box = new QCheckBox(QString::fromLatin1(c.name), this);
        box->setObjectName(QString::number(c.id));
        grid->addWidget(box, row++, 0);
        mChecks.push_back({box, c.dispid});
    }
    const struct {
        int id;
        const char* label;
        long dispid;
        QStringList choices;
    } combos[] = {
        {202, "ArrangeMode:", dispidArrangeMode, {"ModeHierarchy", "ModeCompact", "ModeFlowChart", "ModeTree"}},
        {204, "DrawBackLinks:", dispidDrawBackLinks, {"NoBackLinks", "SolidBackLinks", "DashedBackLinks"}},
        {209, "DrawDir:", dispidDrawDir, {"RightToLeft", "LeftToRight", "BottomToTop", "TopToBottom"}},
        {210, "GraphicAllowImport:", dispidGraphicAllowImport,
         {"NoImportGraphics", "ImportGraphics", "ModifyDTGraphics", "DeleteDTGraphics"}},
        {212, "RubberBand:", dispidRubberBand, {"RBNone", "RBItems", "RBHandles", "RBBoth"}},
        {211, "StoreGraphics:", dispidStoreGraphics,
         {"NoLoadGraphics", "NoSaveGraphics", "SaveUsedGraphics", "SaveRTGraphics", "SaveDTGraphics"}}};
    auto* form = new QFormLayout;
    for (const auto& c : combos) {
        auto* box = new QComboBox(this);
        box->setObjectName(QString::number(c.id));
        box->addItems(c.choices);
        box->setCurrentIndex(-1);
        form->addRow(QString::fromLatin1(c.label), box);
        mCombos.push_back({box, c.dispid});
    }
    grid->addLayout(form, 0, 1, row, 1);
    Read();
}

void CNodars32PropPage::Read() {
    for (const Check& c : mChecks) {
        com::Variant v;
        if (SUCCEEDED(com::PropertyGet(Disp(mCtl), c.id, &v)) && SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4)))
            c.box->setChecked(v.lVal != 0);
    }
    for (const Combo& c : mCombos) {
        com::Variant v;
        if (SUCCEEDED(com::PropertyGet(Disp(mCtl), c.id, &v)) && SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4)))
            c.box->setCurrentIndex(v.lVal >= 0 && v.lVal < c.box->count() ? int(v.lVal) : -1);
    }
}

void CNodars32PropPage::Apply() {
    for (const Check& c : mChecks) {
        // AutoArrange is written as 0 or 1 like the others: the page never sets 2.
        const com::Variant v = c.id == dispidAutoArrange ? com::Variant::I2(c.box->isChecked() ? 1 : 0)
                                                         : com::Variant::Bool(c.box->isChecked());
        com::PropertyPut(Disp(mCtl), c.id, v);
    }
    for (const Combo& c : mCombos)
        if (c.box->currentIndex() >= 0) com::PropertyPut(Disp(mCtl), c.id, com::Variant::I2(int16_t(c.box->currentIndex())));
}

}  // namespace nodars

#include "CPropertySheet.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "CAMEPropPage.h"
#include "CNodars32PropPage.h"
#include "GraphicsPropPage.h"

namespace nodars {

CPropertySheet::CPropertySheet(CNodars32Ctrl& control, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Nodaris Control Properties"));
    mTabs = new QTabWidget(this);
    mGeneral = new CNodars32PropPage(control, mTabs);
    auto* graphics = new GraphicsPropPage(control, GraphicsPropPage::Mode::Page, false, mTabs);
    auto* events = new CAMEPropPage(control, mTabs);
    mTabs->addTab(mGeneral, QStringLiteral("General"));
    mTabs->addTab(graphics, QStringLiteral("Graphics"));
    mTabs->addTab(events, QStringLiteral("Events"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Apply)->setObjectName(QStringLiteral("Apply"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("Cancel"));
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this, [this] { mGeneral->Apply(); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        mGeneral->Apply();
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(mTabs);
    layout->addWidget(buttons);
}

}  // namespace nodars

#include "CGraphicTableDialog.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>

#include "GraphicsPropPage.h"

namespace nodars {

CGraphicTableDialog::CGraphicTableDialog(CNodars32Ctrl& control, bool choose, bool shapes, int initial,
                                         QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(!choose ? QStringLiteral("Nodaris Graphic Table")
                           : shapes ? QStringLiteral("Select a Shape") : QStringLiteral("Select a Graphic"));
    mPage = new GraphicsPropPage(control, choose ? GraphicsPropPage::Mode::Choose : GraphicsPropPage::Mode::Edit,
                                 shapes, this);
    mPage->Select(initial);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    if (choose) {
        auto* accept = new QPushButton(QStringLiteral("&Accept"), this);
        accept->setObjectName(QStringLiteral("1"));
        accept->setDefault(true);
        buttons->addWidget(accept);
        connect(accept, &QPushButton::clicked, this, [this] {
            mChosen = mPage->Selected();
            QDialog::accept();
        });
    }
    auto* close = new QPushButton(choose ? QStringLiteral("&Cancel") : QStringLiteral("&Done"), this);
    close->setObjectName(QStringLiteral("2"));
    buttons->addWidget(close);
    connect(close, &QPushButton::clicked, this, [this, choose] {
        mChosen = -1;
        if (choose)
            QDialog::reject();
        else
            QDialog::accept();
    });
    connect(mPage->List(), &QListWidget::itemDoubleClicked, this, [this, choose](QListWidgetItem* row) {
        mPage->Select(mPage->List()->row(row));
        if (choose) {
            mChosen = mPage->Selected();
            QDialog::accept();
        } else {
            mPage->Modify();
        }
    });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(mPage);
    layout->addLayout(buttons);
}

bool CGraphicTableDialog::Changed() const { return mPage->Changed(); }

}  // namespace nodars

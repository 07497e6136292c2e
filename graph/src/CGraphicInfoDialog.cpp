#include "CGraphicInfoDialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "CPicture.h"
#include "ui/dialogs.h"

namespace nodars {

CGraphicInfoDialog::CGraphicInfoDialog(const QStringList& names, int index, QWidget* parent)
    : QDialog(parent), mNames(names), mIndex(index) {
    setWindowTitle(index >= int(names.size()) ? QStringLiteral("New Graphic Information")
                                              : QStringLiteral("Information for Graphic %1 of %2")
                                                    .arg(index + 1)
                                                    .arg(names.size()));
    mName = new QLineEdit(index < int(names.size()) ? names[index] : QString(), this);
    mName->setObjectName(QStringLiteral("101"));
    mName->setMaxLength(79);
    mPath = new QLineEdit(this);
    mPath->setObjectName(QStringLiteral("102"));
    mPath->setMaxLength(255);
    auto* browse = new QPushButton(QStringLiteral("&Browse..."), this);
    browse->setObjectName(QStringLiteral("Browse"));
    mOk = new QPushButton(QStringLiteral("&Accept"), this);
    mOk->setObjectName(QStringLiteral("1"));
    mOk->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cancel->setObjectName(QStringLiteral("2"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Name:"), mName);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(mPath);
    pathRow->addWidget(browse);
    form->addRow(QStringLiteral("Path:"), pathRow);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(mOk);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);

    mOk->setEnabled(!mName->text().isEmpty());
    connect(mName, &QLineEdit::textChanged, this, [this](const QString& t) { mOk->setEnabled(!t.isEmpty()); });
    connect(browse, &QPushButton::clicked, this, [this] { Browse(); });
    connect(mOk, &QPushButton::clicked, this, [this] { Accept(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString CGraphicInfoDialog::Name() const { return mName->text(); }
QString CGraphicInfoDialog::Path() const { return mPath->text(); }
void CGraphicInfoDialog::Browse() {
    ui::FileRequest request;
    request.title = QStringLiteral("Import Graphic");
    request.filter = QStringLiteral(
        "Graphic Files|*.bmp;*.dib;*.wmf|Windows Bitmaps|*.bmp;*.dib|Windows Metafiles|*.wmf");
    const std::optional<QString> path = ui::GetOpenFileName(request);
    if (!path) return;
    mPath->setText(*path);
    if (mName->text().isEmpty()) mName->setText(CPicture::NameFromPath(*path));
}

void CGraphicInfoDialog::Accept() {
    const QString name = mName->text();
    if (name.isEmpty()) return;
    for (int i = 0; i < int(mNames.size()); ++i) {
        if (i != mIndex && mNames[i] == name) {
            ui::MsgBox(QStringLiteral("You cannot have two graphics with the same name."), ui::Buttons::OK,
                       ui::Icon::None, QStringLiteral("DUPLICATE NAME"));
            mName->selectAll();
            mName->setFocus();
            return;
        }
    }
    accept();
}

}  // namespace nodars

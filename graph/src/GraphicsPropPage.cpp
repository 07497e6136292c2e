#include "GraphicsPropPage.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>

#include "CGraphRenderer.h"
#include "CGraphicInfoDialog.h"
#include "CNodars32Ctrl.h"
#include "CPicture.h"
#include "ui/dialogs.h"

namespace nodars {

namespace {

class Preview : public QWidget {
public:
    explicit Preview(std::function<void(QPainter&, const QRect&)> paint, QWidget* parent)
        : QWidget(parent), mPaint(std::move(paint)) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Qt::gray);
        mPaint(p, rect().adjusted(5, 5, -5, -5));
    }

private:
    std::function<void(QPainter&, const QRect&)> mPaint;
};

void Put(CNodars32Ctrl& ctl, DISPID id, int index, const QString& text) {
    com::Variant value = com::Variant::Str(text.toStdU16String());
    com::Variant ix = com::Variant::I2(int16_t(index));
    com::PropertyPut(static_cast<IDispatch*>(&ctl), id, value, {ix});
}

QPushButton* Button(const char* text, const char* id, QWidget* parent) {
    auto* b = new QPushButton(QString::fromLatin1(text), parent);
    b->setObjectName(QString::fromLatin1(id));
    return b;
}

}  // namespace

GraphicsPropPage::GraphicsPropPage(CNodars32Ctrl& control, Mode mode, bool shapes, QWidget* parent)
    : QWidget(parent), mCtl(control), mMode(mode), mShapes(shapes) {
    setWindowTitle(QStringLiteral("Graphics"));
    mList = new QListWidget(this);
    mList->setObjectName(QStringLiteral("101"));
    mCount = new QLabel(this);
    mCount->setObjectName(QStringLiteral("106"));
    mPreview = new Preview([this](QPainter& p, const QRect& r) { PaintPreview(p, r); }, this);
    mPreview->setObjectName(QStringLiteral("103"));
    mPreview->setEnabled(false);
    mPreview->setMinimumSize(120, 90);
    mNew = Button("&New...", "104", this);
    mModify = Button(mode == Mode::Choose ? "&Modify" : "&Modify...", "105", this);
    mRemove = Button("&Remove", "107", this);
    // Only choosing without permission to edit hides the editing buttons; the
    // edit dialog has no Modify.
    const bool editable = !shapes && (mode != Mode::Choose || control.GraphicAllowImport() != 0);
    mNew->setVisible(editable);
    mModify->setVisible(editable && mode != Mode::Edit);
    mRemove->setVisible(editable);

    auto* grid = new QGridLayout(this);
    grid->addWidget(mCount, 0, 0);
    grid->addWidget(mList, 1, 0, 4, 1);
    grid->addWidget(mPreview, 1, 1);
    grid->addWidget(mNew, 2, 1);
    grid->addWidget(mModify, 3, 1);
    grid->addWidget(mRemove, 4, 1);

    connect(mList, &QListWidget::currentRowChanged, this, [this] {
        UpdateButtons();
        mPreview->update();
    });
    connect(mNew, &QPushButton::clicked, this, [this] { New(); });
    connect(mModify, &QPushButton::clicked, this, [this] { Modify(); });
    connect(mRemove, &QPushButton::clicked, this, [this] { Remove(); });
    Rebuild(0);
}

QStringList GraphicsPropPage::Names() const {
    QStringList names;
    if (mShapes)
        for (const CShape& s : mCtl.ShapesTable()) names << QString::fromStdU16String(s.Name);
    else
        for (const CGraphic& g : mCtl.GraphicsTable()) names << QString::fromStdU16String(g.Name);
    return names;
}

void GraphicsPropPage::Rebuild(int select) {
    const QStringList names = Names();
    mList->blockSignals(true);
    mList->clear();
    for (int i = 0; i < int(names.size()); ++i) {
        auto* row = new QListWidgetItem(names[i], mList);
        row->setData(Qt::UserRole, i);
    }
    mList->blockSignals(false);
    mCount->setText((mShapes ? QStringLiteral("Shapes: %1") : QStringLiteral("Graphics: %1"))
                        .arg(std::max<qsizetype>(0, names.size() - 1)));
    Select(select);
}

int GraphicsPropPage::Selected() const {
    const QListWidgetItem* row = mList->currentItem();
    return row ? row->data(Qt::UserRole).toInt() : -1;
}

void GraphicsPropPage::Select(int entry) {
    mList->setCurrentRow(entry >= 0 && entry < mList->count() ? entry : -1);
    UpdateButtons();
    mPreview->update();
}

void GraphicsPropPage::UpdateButtons() {
    const int sel = Selected();
    const auto& table = mCtl.GraphicsTable();
    bool modify = false, remove = false;
    if (!mShapes && sel > 0 && sel < int(table.size())) {
        const bool designEntry = table[size_t(sel)].DesignTime != 0;
        if (mMode == Mode::Edit || (mMode == Mode::Page && !mCtl.UserMode())) {
            modify = remove = true;
        } else {
            switch (mCtl.GraphicAllowImport()) {
            case 1: modify = remove = !designEntry; break;
            case 2: modify = true; remove = !designEntry; break;
            case 3: modify = remove = true; break;
            default: break;
            }
        }
    }
    mModify->setEnabled(modify);
    mRemove->setEnabled(remove);
}

bool GraphicsPropPage::EditEntry(int index) {
    CGraphicInfoDialog dialog(Names(), index, this);
    if (ui::RunDialog(dialog) != QDialog::Accepted) return false;
    Put(mCtl, dispidGraphicName, index, dialog.Name());
    // An empty path keeps the picture the entry has.
    if (!dialog.Path().isEmpty()) Put(mCtl, dispidGraphicPath, index, dialog.Path());
    mChanged = true;
    Rebuild(index);
    return true;
}

void GraphicsPropPage::New() {
    if (mShapes) return;
    EditEntry(int(mCtl.GraphicsTable().size()));
}

void GraphicsPropPage::Modify() {
    if (mModify->isEnabled()) EditEntry(Selected());
}

void GraphicsPropPage::Remove() {
    const int sel = Selected();
    if (!mRemove->isEnabled() || sel < 1) return;
    Put(mCtl, dispidGraphicName, sel, QString());
    mChanged = true;
    Rebuild(sel - 1);
}

void GraphicsPropPage::PaintPreview(QPainter& p, const QRect& r) const {
    const int sel = Selected();
    if (mShapes) {
        if (sel < 0 || sel >= int(mCtl.ShapesTable().size())) return;
        p.setPen(QPen(Qt::black, 0));
        p.setBrush(Qt::white);
        CGraphRenderer::DrawItemShape(p, sel, GRect{r.left(), r.top(), r.right() + 1, r.bottom() + 1});
        return;
    }
    if (sel < 0 || sel >= int(mCtl.GraphicsTable().size())) return;
    CPicture::Draw(p, mCtl.GraphicsTable()[size_t(sel)], r);
}

}  // namespace nodars

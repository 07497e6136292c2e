#include "UFieldSelect.h"
#include "MCaptionFit.h"

#include "CDataDef.h"
#include "KeyCodes.h"
#include "ErrorGuard.h"
#include "MdbUtils.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QToolButton>

#include <cmath>

namespace {

constexpr int kTwips = 15;
const QString kSuffix = QStringLiteral("\t (As Text)");

int Px(double twips) { return int(std::nearbyint(twips / kTwips)); }
QRect PxRect(const QRect& tw) { return QRect(Px(tw.x()), Px(tw.y()), Px(tw.width()), Px(tw.height())); }
int Nearest(double v) { return int(std::nearbyint(v)); }

// Draws an input's " (As Text)" suffix at the tab position of the list.
class SuffixDelegate : public QStyledItemDelegate {
public:
    SuffixDelegate(QObject* parent, const int& tab) : QStyledItemDelegate(parent), mTab(tab) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QString text = index.data().toString();
        const int cut = text.indexOf(QLatin1Char('\t'));
        if (cut < 0) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem o(option);
        initStyleOption(&o, index);
        o.text = text.left(cut);
        o.widget->style()->drawControl(QStyle::CE_ItemViewItem, &o, painter, o.widget);
        painter->save();
        painter->setPen(o.palette.color(o.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
        const QRect r = o.rect.adjusted(mTab + 4, 0, 0, 0);
        painter->drawText(r, Qt::AlignLeft | Qt::AlignVCenter, text.mid(cut + 1));
        painter->restore();
    }

private:
    const int& mTab;
};

}  // namespace

UFieldSelect::UFieldSelect(QWidget* parent) : base::IFieldSelectPanel(parent) {
    setObjectName(QStringLiteral("UFieldSelect"));
    mBack = new QPushButton(tr("<< &Back"), this);
    mBack->setObjectName(QStringLiteral("lnkCancel"));
    mNext = new QPushButton(tr("&Next >>"), this);
    mNext->setObjectName(QStringLiteral("lnkNext"));
    mNext->setToolTip(tr("Continue to Row Selection"));
    mPredictLabel = new QLabel(tr("Field to Predict"), this);
    mOutput = new QLabel(this);
    mOutput->setObjectName(QStringLiteral("lblOutput"));
    mOutput->setAutoFillBackground(true);
    QPalette white = mOutput->palette();
    white.setColor(QPalette::Window, Qt::white);
    mOutput->setPalette(white);
    mOutput->setFrameShape(QFrame::Box);
    mOutput->setToolTip(tr("Field that will be used for prediction"));
    mOutput->setProperty("tag", QString());
    mIgnoreLabel = new QLabel(tr("Fields to Ignore"), this);
    mFrom = new QListWidget(this);
    mFrom->setObjectName(QStringLiteral("lstFieldsFrom"));
    mFrom->setToolTip(tr("Drag and drop fields to use and predict"));
    mLabel4 = new QLabel(tr("Fields to Use"), this);
    mLabel4->setObjectName(QStringLiteral("Label4"));
    mTo = new QListWidget(this);
    mTo->setObjectName(QStringLiteral("lstFieldsTo"));
    mTo->setToolTip(tr("Double click to use a number field as text"));
    mTo->setItemDelegate(new SuffixDelegate(mTo, mTabPosition));
    const char* arrows[6] = {"\u2191", "\u2193", "\u21c8", "\u21ca", "\u2191", "\u2193"};
    const char* tips[6] = {"Make the selected field the field to predict", "Ignore the field to predict",
                           "Ignore every field in use", "Use every field", "Ignore the selected fields",
                           "Use the selected fields"};
    for (int i = 0; i < 6; ++i) {
        auto* b = new QToolButton(this);
        b->setObjectName(QStringLiteral("cmdMvFd%1").arg(i));
        b->setText(QString::fromUtf8(arrows[i]));
        b->setToolTip(tr(tips[i]));
        mButtons[size_t(i)] = b;
        connect(b, &QToolButton::clicked, this, [this, i] {
            base::ShowErrors("UFieldSelect::cmdMvFd_Click", [&] {
                static const Place src[6] = {Place::From, Place::Output, Place::To, Place::From, Place::To, Place::From};
                static const Place dst[6] = {Place::Output, Place::From, Place::From, Place::To, Place::From, Place::To};
                MoveItems(src[i], dst[i], i == 2 || i == 3);
            });
        });
    }
    for (QListWidget* list : {mFrom, mTo}) {
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
        list->setDragEnabled(false);
        list->viewport()->installEventFilter(this);
        list->installEventFilter(this);
        connect(list, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
            // A keyboard move of the current item counts as a click.
            if (!item || mPressPlace != Place::None) return;
            base::ShowErrors("UFieldSelect::lstFields_Click",
                             [&] { emit FieldSelect(int16_t(item->data(Qt::UserRole).toInt())); });
        });
    }
    mOutput->installEventFilter(this);
    connect(mNext, &QPushButton::clicked, this, base::ShowingErrors("UFieldSelect::cmdConfigOK_Click", [this] { Next(); }));
    connect(mBack, &QPushButton::clicked, this, base::ShowingErrors("UFieldSelect::lnkCancel_Click", [this] { emit NavBack(); }));
    resize(3945 / kTwips, 5115 / kTwips);
    ApplyNextRule();
}

// ---------------------------------------------------------------- filling

QString UFieldSelect::Name(int16_t n) const { return QString::fromStdString(mDDO->FieldName(n)); }

void UFieldSelect::Initialize(std::shared_ptr<CDataDef> dataDef) {
    base::ShowErrors("UFieldSelect::FillLists", [&] { FillLists(dataDef); });
}

void UFieldSelect::Refresh() { Initialize(mDDO); }

void UFieldSelect::FillLists(const std::shared_ptr<CDataDef>& dataDef) {
    if (!dataDef) return;
    mDDO = dataDef;
    mFrom->clear();
    mTo->clear();
    SetOutput(-1);
    const CDataDef& dd = *mDDO;
    // The suffix stands a quarter beyond the widest name that could carry it.
    const QFontMetrics fm(mTo->font());
    int widest = 0;
    for (int16_t n = 0; n < dd.FieldCount(); ++n)
        if (MdbUtils::IsNumericType(dd.FieldType(n)) && dd.MaxClass(n) > 0)
            widest = std::max(widest, fm.horizontalAdvance(Name(n) + QLatin1Char(' ')));
    mTabPosition = Nearest(Nearest(widest * kTwips * 1.25) / double(kTwips));
    for (int16_t n = 0; n < dd.FieldCount(); ++n) {
        auto add = [&](QListWidget* list, const QString& text) {
            auto* item = new QListWidgetItem(text, list);
            item->setData(Qt::UserRole, int(n));
        };
        switch (dd.UserMatchType(n)) {
        case MatchType::NotUsed: add(mFrom, Name(n)); break;
        case MatchType::Numeric: add(mTo, Name(n)); break;
        case MatchType::Text: add(mTo, MdbUtils::IsNumericType(dd.FieldType(n)) ? Name(n) + kSuffix : Name(n)); break;
        case MatchType::Output:
            // A second output (a damaged definition) goes among the ignored
            // fields: the first one is the output everywhere else too.
            if (OutputField() < 0) SetOutput(n);
            else add(mFrom, Name(n));
            break;
        default: add(mFrom, Name(n)); break;
        }
    }
    mTo->viewport()->update();
    ApplyNextRule();
    mChanged = false;
}

int16_t UFieldSelect::OutputField() const {
    const QString tag = mOutput->property("tag").toString();
    return tag.isEmpty() ? int16_t(-1) : int16_t(tag.toInt());
}

void UFieldSelect::SetOutput(int16_t n) {
    mOutput->setText(n < 0 ? QString() : Name(n));
    mOutput->setProperty("tag", n < 0 ? QString() : QString::number(n));
    ApplyNextRule();
}

void UFieldSelect::ApplyNextRule() { mNext->setEnabled(mTo->count() > 0 && !mOutput->text().isEmpty()); }

bool UFieldSelect::MatchAsText(int16_t fieldNum) const {
    bool result = false;
    base::ShowErrors("UFieldSelect::MatchAsText", [&] {
        for (int i = 0; i < mTo->count(); ++i)
            if (mTo->item(i)->data(Qt::UserRole).toInt() == fieldNum)
                result = mTo->item(i)->text() != Name(fieldNum);
    });
    return result;
}

// ---------------------------------------------------------------- moving

bool UFieldSelect::ValidInputField(int16_t n) const {
    const int16_t type = mDDO->FieldType(n);
    if (type == 15 || type == 11 || type == 17 || type == 12) return false;
    if (type == 10 || type == 18) return mDDO->MaxClass(n) > 0;
    return true;
}

bool UFieldSelect::ValidOutputField(int16_t n) const {
    const int16_t type = mDDO->FieldType(n);
    if (type == 15 || type == 11 || type == 17 || type == 12) return false;
    return mDDO->MaxClass(n) > 0;
}

void UFieldSelect::AddItemSorted(QListWidget* list, const QString& text, int16_t n) {
    int j = 0;
    while (j < list->count() && list->item(j)->data(Qt::UserRole).toInt() < n) ++j;
    Q_UNUSED(text);  // a field always arrives compared as a number
    auto* item = new QListWidgetItem(Name(n));
    item->setData(Qt::UserRole, int(n));
    list->insertItem(j, item);
}

QListWidget* UFieldSelect::ListOf(Place p) const {
    return p == Place::From ? mFrom : p == Place::To ? mTo : nullptr;
}

int16_t UFieldSelect::FirstSelected(QListWidget* list) const {
    if (!list) return -1;
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->isSelected()) return int16_t(list->item(i)->data(Qt::UserRole).toInt());
    return -1;
}

void UFieldSelect::MoveItems(Place source, Place target, bool allItems) {
    if (!mDDO) return;
    QListWidget* src = ListOf(source);
    QListWidget* dst = ListOf(target);
    if (target == Place::Output && src) {
        int first = -1;
        for (int i = 0; i < src->count() && first < 0; ++i)
            if (src->item(i)->isSelected()) first = i;
        if (first >= 0) {
            const int16_t previous = OutputField();
            src->setCurrentRow(first, QItemSelectionModel::NoUpdate);
            const int16_t n = int16_t(src->item(first)->data(Qt::UserRole).toInt());
            if (ValidOutputField(n)) {
                SetOutput(n);
                delete src->takeItem(first);
                if (previous >= 0) AddItemSorted(mFrom, Name(previous), previous);
            }
        }
    } else if (source == Place::Output && dst) {
        const int16_t n = OutputField();
        if (n >= 0) {
            AddItemSorted(dst, Name(n), n);
            SetOutput(-1);
        }
    } else if (src && dst) {
        if (dst == mTo)
            for (int i = 0; i < src->count(); ++i)
                if (!ValidInputField(int16_t(src->item(i)->data(Qt::UserRole).toInt()))) src->item(i)->setSelected(false);
        if (src->count() > 0 && (allItems || !src->selectedItems().isEmpty())) {
            for (int i = src->count() - 1; i >= 0; --i) {
                QListWidgetItem* item = src->item(i);
                const int16_t n = int16_t(item->data(Qt::UserRole).toInt());
                const bool moves = allItems ? ValidInputField(n) : item->isSelected();
                if (!moves) continue;
                if (src == dst) continue;  // dropped on its own list: stays as it was
                AddItemSorted(dst, item->text(), n);
                delete src->takeItem(i);
            }
        }
    }
    ApplyNextRule();
}

void UFieldSelect::ToggleMatchType() {
    const QList<QListWidgetItem*> selected = mTo->selectedItems();
    QListWidgetItem* item = mTo->currentItem();
    if (!(selected.size() == 1 || item)) return;
    if (!item) item = selected.first();
    const int16_t n = int16_t(item->data(Qt::UserRole).toInt());
    if (MdbUtils::FieldTypeClass(mDDO->FieldType(n)) == MdbUtils::TypeClassOrdered && mDDO->MaxClass(n) > 0)
        item->setText(item->text() != Name(n) ? Name(n) : Name(n) + kSuffix);
    emit FieldSelect(n);
}

// ---------------------------------------------------------------- next

void UFieldSelect::Next() {
    mChanged = false;
    if (!mDDO) return;
    CDataDef& dd = *mDDO;
    struct Write {
        int16_t field;
        int16_t value;  // 0: counts as a change, nothing written
    };
    std::vector<Write> writes;
    for (int i = 0; i < mTo->count(); ++i) {
        const int16_t n = int16_t(mTo->item(i)->data(Qt::UserRole).toInt());
        const bool asText = mTo->item(i)->text() != Name(n);
        const int16_t type = dd.FieldType(n);
        const bool numeric = MdbUtils::IsNumericType(type);
        const int16_t typeClass = MdbUtils::FieldTypeClass(type);
        switch (dd.UserMatchType(n)) {
        case MatchType::Output: writes.push_back({n, numeric && !asText ? MatchType::Numeric : MatchType::Text}); break;
        case MatchType::NotUsed:
            if (typeClass == MdbUtils::TypeClassOrdered) writes.push_back({n, asText ? MatchType::Text : MatchType::Numeric});
            else if (typeClass == MdbUtils::TypeClassCategorical) writes.push_back({n, MatchType::Text});
            else writes.push_back({n, 0});
            break;
        case MatchType::Numeric:
            if (asText) writes.push_back({n, MatchType::Text});
            break;
        case MatchType::Text:
            if (numeric && !asText) writes.push_back({n, MatchType::Numeric});
            break;
        default: break;
        }
    }
    for (int i = 0; i < mFrom->count(); ++i) {
        const int16_t n = int16_t(mFrom->item(i)->data(Qt::UserRole).toInt());
        if (dd.UserMatchType(n) != MatchType::NotUsed) writes.push_back({n, MatchType::NotUsed});
    }
    const int16_t out = OutputField();
    if (out >= 0 && dd.UserMatchType(out) != MatchType::Output) writes.push_back({out, MatchType::Output});
    // One question before the first change; a refusal leaves every value as it was.
    if (!writes.empty()) {
        mChanged = true;
        bool cancel = false;
        emit VerifyModification(cancel);
        if (cancel) return;
    }
    for (const Write& w : writes)
        if (w.value != 0) dd.SetUserMatchType(w.field, w.value);
    emit NavNext();
}

// ---------------------------------------------------------------- mouse, drag and keys

UFieldSelect::Place UFieldSelect::PlaceOf(QObject* o) const {
    if (o == mFrom || o == mFrom->viewport()) return Place::From;
    if (o == mTo || o == mTo->viewport()) return Place::To;
    if (o == mOutput) return Place::Output;
    return Place::None;
}

UFieldSelect::Place UFieldSelect::PlaceAt(const QPoint& globalPos) const {
    const QPoint p = mapFromGlobal(globalPos);
    if (mOutput->geometry().contains(p)) return Place::Output;
    if (mFrom->geometry().contains(p)) return Place::From;
    if (mTo->geometry().contains(p)) return Place::To;
    return Place::None;
}

void UFieldSelect::SetIcon(DragIcon icon) {
    mIcon = icon;
    QWidget* source = mDragSource == Place::Output ? static_cast<QWidget*>(mOutput) : ListOf(mDragSource);
    if (!source) return;
    switch (icon) {
    case DragIcon::None: source->unsetCursor(); break;
    case DragIcon::Drag: source->setCursor(Qt::DragMoveCursor); break;
    case DragIcon::Drop: source->setCursor(Qt::DragCopyCursor); break;
    case DragIcon::NotDrop: source->setCursor(Qt::ForbiddenCursor); break;
    }
}

bool UFieldSelect::eventFilter(QObject* watched, QEvent* event) {
    const Place place = PlaceOf(watched);
    if (place == Place::None) return base::IFieldSelectPanel::eventFilter(watched, event);
    bool consumed = false;
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        if (watched != mFrom && watched != mTo) break;
        auto* e = static_cast<QKeyEvent*>(event);
        int16_t code = KeyCodes::VbKeyCode(e), shift = KeyCodes::VbShift(e->modifiers());
        const bool had = code != 0;
        base::ShowErrors("UFieldSelect::UserControl_KeyDown", [&] {
            if (event->type() == QEvent::KeyPress) emit KeyDown(code, shift);
            else emit KeyUp(code, shift);
        });
        consumed = had && code == 0;
        break;
    }
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        mPressPlace = place;
        mPressPos = e->globalPosition().toPoint();
        if (place == Place::To) mMouseDown = e->button() == Qt::LeftButton;
        break;
    }
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        base::RecordErrors("UFieldSelect::eventFilter", [&] {
            if (mDragSource != Place::None) {
                const Place over = PlaceAt(e->globalPosition().toPoint());
                DragIcon icon = DragIcon::Drag;
                if (over == Place::Output && mDragSource != Place::Output) {
                    icon = ValidOutputField(FirstSelected(ListOf(mDragSource))) ? DragIcon::Drop : DragIcon::NotDrop;
                } else if (over == Place::To && mDragSource != Place::To) {
                    const int16_t n = mDragSource == Place::Output ? OutputField() : FirstSelected(ListOf(mDragSource));
                    icon = n >= 0 && ValidInputField(n) ? DragIcon::Drop : DragIcon::NotDrop;
                } else if (over == Place::From && mDragSource != Place::From) {
                    icon = DragIcon::Drop;
                }
                SetIcon(icon);
                consumed = true;
                return;
            }
            if (e->buttons() != Qt::LeftButton || mPressPlace != place) return;
            if ((e->globalPosition().toPoint() - mPressPos).manhattanLength() < QApplication::startDragDistance()) return;
            const bool ready = place == Place::Output ? !mOutput->text().isEmpty()
                               : place == Place::To   ? mMouseDown && !mTo->selectedItems().isEmpty()
                                                      : !mFrom->selectedItems().isEmpty();
            if (!ready) return;
            mDragSource = place;
            SetIcon(DragIcon::Drag);
            consumed = true;
        });
        break;
    }
    case QEvent::MouseButtonRelease: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (mDragSource != Place::None) {
            const Place target = PlaceAt(e->globalPosition().toPoint());
            const Place source = mDragSource;
            SetIcon(DragIcon::None);
            mDragSource = Place::None;
            mIcon = DragIcon::None;
            if (target != Place::None)
                base::ShowErrors("UFieldSelect::DragDrop", [&] { MoveItems(source, target, false); });
            consumed = true;
        } else if (place == Place::Output && mPressPlace == Place::Output && OutputField() >= 0) {
            base::ShowErrors("UFieldSelect::lblOutput_Click", [&] { emit FieldSelect(OutputField()); });
        } else if (place != Place::Output && mPressPlace == place) {
            QListWidget* list = ListOf(place);
            if (QListWidgetItem* item = list->itemAt(list->viewport()->mapFromGlobal(e->globalPosition().toPoint())))
                base::ShowErrors("UFieldSelect::lstFields_Click",
                                 [&] { emit FieldSelect(int16_t(item->data(Qt::UserRole).toInt())); });
        }
        if (place == Place::To) mMouseDown = false;
        mPressPlace = Place::None;
        break;
    }
    case QEvent::MouseButtonDblClick:
        if (place == Place::To) {
            mMouseDown = false;
            base::ShowErrors("UFieldSelect::ToggleMatchType", [&] {
                ToggleMatchType();
                mChanged = true;
            });
            consumed = true;
        }
        break;
    default: break;
    }
    return consumed || base::IFieldSelectPanel::eventFilter(watched, event);
}

// ---------------------------------------------------------------- layout

UFieldSelect::Layout UFieldSelect::ComputeLayout(int w, int h) {
    constexpr int kButtonW = 495, kButtonH = 375, kNavW = 1125, kNavH = 319, kLeft = 120;
    Layout l;
    const int list = std::max(1215, w - 270);
    if (kNavW + kNavW + 360 <= w) {
        l.next = QRect(kLeft + list - kNavW, 120, kNavW, kNavH);
        l.back = QRect(kLeft, 120, kNavW, kNavH);
    } else {
        l.next = QRect(w - kNavW, 120, kNavW, kNavH);
        l.back = QRect(w - kNavW - kNavW - 120, 120, kNavW, kNavH);
    }
    const int a = Nearest(h - 1920.0);
    const int b = 2 * kButtonH + 2162;
    const int e = a > b + 96 ? Nearest((a - b - 96) / 2.0) : 0;
    l.output = QRect(kLeft, 720, list, 285);
    l.from = QRect(kLeft, 1920, list, 1021 + e);
    l.to = QRect(kLeft, 3788 + e, list, 1021 + e);
    l.label4 = QRect(kLeft, 3551 + e, 2415, 255);
    auto pair = [&](int first, int second, double factor, int least, int top) {
        const int d = std::max(Nearest(factor * list), least);
        const int left = Nearest(list / 2.0 - d / 2.0 - kButtonW / 2.0 + kLeft);
        l.buttons[size_t(first)] = QRect(left, top, kButtonW, kButtonH);
        l.buttons[size_t(second)] = QRect(left + d, top, kButtonW, kButtonH);
    };
    pair(0, 1, 0.398, kButtonW + 30, 1200);
    pair(2, 3, 0.73, 3 * kButtonW + 60, 3077 + e);
    pair(4, 5, 0.199, kButtonW + 30, 3077 + e);
    return l;
}

void UFieldSelect::resizeEvent(QResizeEvent*) {
    const bool updates = updatesEnabled();
    setUpdatesEnabled(false);
    base::RecordErrors("UFieldSelect::resizeEvent", [&] {
        const Layout l = ComputeLayout(width() * kTwips, height() * kTwips);
        mBack->setGeometry(PxRect(l.back));
        mNext->setGeometry(PxRect(l.next));
        mPredictLabel->setGeometry(PxRect(QRect(120, 480, 1575, 255)));
        mOutput->setGeometry(PxRect(l.output));
        mIgnoreLabel->setGeometry(PxRect(QRect(135, 1680, 1575, 255)));
        mFrom->setGeometry(PxRect(l.from));
        mLabel4->setGeometry(PxRect(l.label4));
        mTo->setGeometry(PxRect(l.to));
        for (size_t i = 0; i < 6; ++i) mButtons[i]->setGeometry(PxRect(l.buttons[i]));
    });
    MCaptionFit::FitAll(this);
    setUpdatesEnabled(updates);
}

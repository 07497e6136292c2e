#include "UInteractive.h"

#include "AppErrors.h"
#include "AppServices.h"
#include "CClassNames.h"
#include "CDataDef.h"
#include "CProject.h"
#include "CTRX.h"
#include "MFormat.h"
#include "ErrorGuard.h"
#include "MdbUtils.h"
#include "UTextSpin.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>

#include <cmath>

namespace {

constexpr int kTpp = 15;  // twips per pixel
constexpr int kMinColumn = 810;
constexpr int kScrollRoom = 600;

int Px(double twips) { return int(std::nearbyint(twips / kTpp)); }
int Round(double v) { return int(std::nearbyint(v)); }

bool IsMissingText(const VARIANT& v) {
    if (v.vt != VT_BSTR) return false;
    return QString::fromStdString(dao::VarToString(v)).trimmed() == QLatin1String("?");
}

}  // namespace

UInteractive::UInteractive(QWidget* parent) : base::IInteractivePanel(parent) {
    setObjectName(QStringLiteral("UInteractive"));
    setMouseTracking(true);
    resize(424, 356);  // 6360 x 5340 twips

    QFont big = font();
    big.setPointSizeF(9.75);
    big.setBold(true);
    mPredictionFrame = new QGroupBox(tr(" Prediction "), this);
    mPredictionFrame->setGeometry(16, 8, 241, 41);
    mPrediction = new QLabel(mPredictionFrame);
    mPrediction->setObjectName(QStringLiteral("lblPrediction"));
    mPrediction->setFont(big);
    mConfFrame = new QGroupBox(tr(" Confidence Factor "), this);
    // Wide enough for its caption in whatever font the desktop gives.
    mConfFrame->setGeometry(288, 8, std::max(113, mConfFrame->minimumSizeHint().width()), 41);
    mConf = new QLabel(mConfFrame);
    mConf->setObjectName(QStringLiteral("lblConf"));
    mConf->setFont(big);
    for (QGroupBox* box : {mPredictionFrame, mConfFrame}) {
        auto* label = box == mPredictionFrame ? mPrediction : mConf;
        label->setGeometry(8, 16, box->width() - 12, 22);
    }

    const QColor grey(192, 192, 192);
    auto pane = [&](QWidget* parentWidget, const char* name) {
        auto* w = new QWidget(parentWidget);
        w->setObjectName(QLatin1String(name));
        w->setAutoFillBackground(true);
        QPalette p = w->palette();
        p.setColor(QPalette::Window, grey);
        w->setPalette(p);
        return w;
    };
    mFrame = pane(this, "picFrame");
    mFrame->setGeometry(8, 76, 370, 270);
    mPaneName = pane(mFrame, "picFieldName");
    mPaneValue = pane(mFrame, "picValue");
    mPaneRange = pane(mFrame, "picRange");
    mScroll = new QScrollBar(Qt::Vertical, this);
    mScroll->setObjectName(QStringLiteral("vsbMain"));
    mScroll->setGeometry(387, 76, 17, 270);
    mScroll->setEnabled(false);
    mShadow = new QWidget(this);
    mShadow->setObjectName(QStringLiteral("picShadow"));
    mShadow->setAutoFillBackground(true);
    QPalette sp = mShadow->palette();
    sp.setColor(QPalette::Window, QColor(128, 128, 128));
    mShadow->setPalette(sp);
    mShadow->resize(Px(50), 10);
    mShadow->hide();

    // Element 0 of every row control exists from the start.
    NameLabel(0)->hide();
    RangeLabel(0)->hide();
    Spin(0)->hide();
    List(0)->hide();

    const int usable = mFrame->width() * kTpp + mFrame->x() * kTpp - mScroll->width() * kTpp;
    mDivider1 = Round(usable / 3.0);
    mDivider2 = Round(2.0 * usable / 3.0);
    SizeColumns();

    mTimer.setParent(this);
    mTimer.setObjectName(QStringLiteral("tmrFirePredict"));
    mTimer.setInterval(200);
    connect(&mTimer, &QTimer::timeout, this, [this] {
        base::ShowErrors("UInteractive::tmrFirePredict_Timer", [&] {
            mTimer.stop();
            Predict();
        });
    });
    connect(mScroll, &QScrollBar::valueChanged, this, [this](int value) {
        for (QWidget* p : {mPaneName, mPaneValue, mPaneRange}) p->move(p->x(), -value * mRowHeight);
    });
    // An editor reached with Tab may lie outside the frame: its row scrolls into view.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now && mPaneValue->isAncestorOf(now))
            base::ShowErrors("UInteractive::Editor_GotFocus", [&] { ShowRowOf(now); });
    });
}

void UInteractive::ShowRowOf(QWidget* editor) {
    if (mRowHeight <= 0 || !mScroll->isEnabled()) return;
    const int row = editor->mapTo(mPaneValue, QPoint(0, 0)).y() / mRowHeight;
    const int whole = std::max(1, mFrame->height() / mRowHeight);
    const int first = mScroll->value();
    if (row < first) mScroll->setValue(row);
    else if (row >= first + whole) mScroll->setValue(row - whole + 1);
}

UInteractive::~UInteractive() { mTimer.stop(); }

// ---------------------------------------------------------------- row controls

QLabel* UInteractive::NameLabel(int row) {
    while (mNames.size() <= row) {
        auto* label = new QLabel(mPaneName);
        label->setObjectName(QStringLiteral("lblFieldName"));
        QFont f = label->font();
        f.setBold(true);
        label->setFont(f);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        mNames << label;
    }
    return mNames[row];
}

QLabel* UInteractive::RangeLabel(int row) {
    while (mRanges.size() <= row) {
        auto* label = new QLabel(mPaneRange);
        label->setObjectName(QStringLiteral("lblRange"));
        mRanges << label;
    }
    return mRanges[row];
}

UTextSpin* UInteractive::Spin(int index) {
    while (mSpins.size() <= index) {
        auto* spin = new UTextSpin(mPaneValue);
        spin->setObjectName(QStringLiteral("utsValue"));
        spin->move(1, 0);
        connect(spin, &UTextSpin::Change, this, [this] { RestartTimer(); });
        mSpins << spin;
    }
    return mSpins[index];
}

QComboBox* UInteractive::List(int index) {
    while (mLists.size() <= index) {
        auto* list = new QComboBox(mPaneValue);
        list->setObjectName(QStringLiteral("cmbValue"));
        list->move(1, 0);
        connect(list, &QComboBox::currentIndexChanged, this, [this] { RestartTimer(); });
        mLists << list;
    }
    return mLists[index];
}

void UInteractive::RestartTimer() {
    mTimer.stop();
    mTimer.start();
}

// ---------------------------------------------------------------- building the rows

UInteractive::SpinSetup UInteractive::ChooseSpin(int16_t type, double min, double max) {
    const double range = max - min;
    if (type == dao::dbCurrency) return {2, range >= 10 ? 1.0 : 0.01};
    if (MdbUtils::IsIntegerType(type)) return {0, 1.0};
    if (MdbUtils::IsDateType(type)) return {0, range > 5 ? 1.0 : 1.0 / 24 / 60};
    // A field whose values are all equal has no range to take a logarithm of.
    if (!(range > 0)) return {2, 0.01};
    // Values at both ends of a double's range: whole steps, as for any wide range.
    if (!std::isfinite(range)) return {0, 1.0};
    int places = 2 - int(std::floor(std::log(range) / std::log(10.0) + 0.000001));
    if (places < 1) places = 0;
    return {int16_t(places), std::pow(10.0, -places)};
}

void UInteractive::SetupSpin(int s, int r) {
    const int16_t f = mFieldIndex[size_t(r)];
    const double min = mDDO->FieldMin(f), max = mDDO->FieldMax(f);
    UTextSpin* spin = Spin(s);
    spin->SetMin(min);
    spin->SetMax(max);
    const SpinSetup setup = ChooseSpin(mDDO->FieldType(f), min, max);
    spin->SetDecimalPlaces(setup.places);
    spin->SetSmallChange(setup.step);
}

void UInteractive::Initialize(std::shared_ptr<CProject> project, std::shared_ptr<CDataDef> dataDef,
                              std::shared_ptr<CTRX> trx) {
    if (!project || !dataDef) return;
    mTimer.stop();
    mProject = std::move(project);
    mDDO = std::move(dataDef);
    mEngine = std::move(trx);
    // Released on every way out, a failure included.
    struct Hold {
        UInteractive* view;
        Hold(UInteractive* v) : view(v) {
            view->setUpdatesEnabled(false);
            view->mBusy = true;
        }
        ~Hold() {
            view->mBusy = false;
            view->setUpdatesEnabled(true);
        }
    } hold(this);

    for (QLabel* l : mNames) l->hide();
    for (QLabel* l : mRanges) l->hide();
    for (UTextSpin* s : mSpins) {
        s->hide();
        s->SetShowAsDate(false);
    }
    for (QComboBox* c : mLists) {
        c->hide();
        c->clear();
    }
    mEditors.clear();
    mFieldIndex.clear();
    mOutputField = -1;

    mClassNames = std::make_unique<CClassNames>();
    mClassNames->Initialize(mProject.get(), mDDO);
    mRowHeight = Spin(0)->height() + 2;

    const CDataDef& dd = *mDDO;
    for (int16_t i = 0; i < dd.FieldCount(); ++i) {
        const int16_t mt = dd.UserMatchType(i);
        if (mt == MatchType::Numeric || mt == MatchType::Text) mFieldIndex.push_back(i);
        else if (mt == MatchType::Output && mOutputField < 0) mOutputField = i;
    }
    const int rows = int(mFieldIndex.size());
    mEditors.assign(size_t(rows), nullptr);
    const QColor grey(128, 128, 128);  // the system's grey text
    int spins = 0, lists = 0;
    for (int r = 0; r < rows; ++r) {
        const int16_t f = mFieldIndex[size_t(r)];
        const int16_t type = dd.FieldType(f);
        const QString name = QString::fromStdString(dd.FieldName(f));
        auto place = [&](QWidget* w) { w->move(w->x(), r * mRowHeight + (mRowHeight - w->height()) / 2); };

        QLabel* label = NameLabel(r);
        label->resize(label->width(), mRowHeight);
        place(label);
        label->setText(name);
        QPalette p = label->palette();
        const bool inTree = mEngine && mEngine->IsFieldInTree(dd.FieldName(f));
        p.setColor(QPalette::WindowText, inTree ? QColor(Qt::black) : grey);
        label->setPalette(p);
        label->show();

        QLabel* range = RangeLabel(r);
        range->resize(range->width(), mRowHeight);
        if (dd.UserMatchType(f) == MatchType::Numeric) {
            UTextSpin* spin = Spin(spins);
            place(spin);
            spin->SetMax(dd.FieldMax(f));
            spin->SetMin(dd.FieldMin(f));
            SetupSpin(spins, r);
            spin->show();
            spin->SetShowAsDate(MdbUtils::IsDateType(type));
            mEditors[size_t(r)] = spin;
            ++spins;
            if (MdbUtils::IsDateType(type))
                range->setText(QStringLiteral("( ") + MFormat::ShortDate(dd.FieldMin(f)) + QStringLiteral(" - ") +
                               MFormat::ShortDate(dd.FieldMax(f)) + QStringLiteral(" )"));
            else
                range->setText(QStringLiteral("( ") + MFormat::General(dd.FieldMin(f)) + QStringLiteral(" - ") +
                               MFormat::General(dd.FieldMax(f)) + QStringLiteral(" )"));
        } else {
            QComboBox* list = List(lists);
            list->clear();
            for (int16_t k = 1; k <= dd.MaxClass(f); ++k)
                list->addItem(QString::fromStdString(mClassNames->Class(f, int16_t(k - 1))), int(k));
            list->setCurrentIndex(list->count() > 0 ? 0 : -1);
            place(list);
            list->show();
            mEditors[size_t(r)] = list;
            ++lists;
            range->setText(QString());
        }
        place(range);
        range->show();
    }
    for (QWidget* p : {mPaneName, mPaneValue, mPaneRange}) p->resize(p->width(), mRowHeight * rows);
    SizeColumns();
    // A rebuild always shows the first row.
    mScroll->setValue(0);
    ApplyScrollRule();
}

bool UInteractive::focusNextPrevChild(bool next) {
    const auto target = [](QWidget* editor) { return editor->focusProxy() ? editor->focusProxy() : editor; };
    QWidget* focus = QApplication::focusWidget();
    const int rows = int(mEditors.size());
    for (int r = 0; r < rows; ++r) {
        if (target(mEditors[size_t(r)]) != focus) continue;
        const int to = next ? r + 1 : r - 1;
        if (to < 0 || to >= rows) break;  // past the first or last row: the window's order
        target(mEditors[size_t(to)])->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }
    return QWidget::focusNextPrevChild(next);
}

// ---------------------------------------------------------------- loading a row

void UInteractive::SetRow(const QVariant& key) {
    if (!mProject || !mDDO) return;
    const CDataDef& dd = *mDDO;
    const int16_t keyField = dd.PrimaryKeyField();
    const bool hasKey = keyField >= 0 && keyField < dd.FieldCount();
    std::string sql = "SELECT * FROM LinkDataSource";
    bool searchable = true;
    if (!key.isNull() && key.isValid()) {
        if (!hasKey) throw app::RuntimeError(3800, "The data table has no primary-key field to find the row by.");
        std::string literal;
        if (MdbUtils::IsNumericType(dd.FieldType(keyField))) {
            bool ok = false;
            const double number = key.toDouble(&ok);
            searchable = ok && std::isfinite(number);
            literal = QLocale::c().toString(number, 'g', 17).toStdString();
        } else {
            literal = MdbUtils::SqlText(key.toString().toStdString());
        }
        sql += " WHERE " + MdbUtils::BracketName(dd.FieldName(keyField)) + " = " + literal;
    } else if (hasKey) {
        sql += " ORDER BY " + MdbUtils::BracketName(dd.FieldName(keyField));
    }
    sql += ";";

    DatabasePtr db = mProject->OpenProject(false);
    if (!db) throw app::RuntimeError(91, app::RuntimeErrorText(91));
    RecordsetPtr rs;
    bool found = false;
    if (searchable) {
        rs = db->OpenRecordset(sql, dao::RecordsetType::ForwardOnly);
        found = !rs->Eof();
    }
    for (int r = 0; r < RowCount(); ++r) {
        const int16_t f = mFieldIndex[size_t(r)];
        com::Variant v = found ? rs->Fields(f).Value() : com::Variant::Null();
        if (v.vt == VT_BOOL) v = com::Variant::I2(dao::VarToBool(v) ? -1 : 0);
        const bool missing = v.IsNull() || v.IsEmpty() || IsMissingText(v);
        if (auto* spin = qobject_cast<UTextSpin*>(mEditors[size_t(r)])) {
            double value = dd.FieldAvg(f);
            if (!missing) {
                try {
                    value = dao::VarToDouble(v);
                } catch (...) {
                    // A text that is no number counts as missing.
                }
            }
            spin->SetValue(value);
        } else if (auto* list = qobject_cast<QComboBox*>(mEditors[size_t(r)])) {
            if (missing) list->setCurrentIndex(list->count() > 0 ? 0 : -1);
            else list->setCurrentIndex(mClassNames ? mClassNames->ClassNumber(f, dao::VarToString(v)) : -1);
        }
    }
    if (rs) rs->Close();
    if (!found) {
        const QString text = key.isNull() || !key.isValid()
                                 ? tr("The data table has no rows; each input shows its field's mean or first class.")
                                 : tr("No row has the key %1; each input shows its field's mean or first class.")
                                       .arg(key.toString());
        app::StatusText(text);
    }
    Predict();
}

// ---------------------------------------------------------------- prediction

void UInteractive::Predict() {
    if (mBusy) return;
    const int rows = RowCount();
    int16_t result = -1;
    if (mEngine && mEngine->HasTree() && mDDO && int(mEditors.size()) == rows) {
        std::vector<com::Variant> row(size_t(rows) + 1);
        for (int r = 0; r < rows; ++r) {
            if (auto* spin = qobject_cast<UTextSpin*>(mEditors[size_t(r)])) {
                row[size_t(r)] = com::Variant::R8(spin->Value());
            } else if (auto* list = qobject_cast<QComboBox*>(mEditors[size_t(r)])) {
                // No choice gives no value: the prediction fails where the tree needs it.
                row[size_t(r)] = list->currentIndex() < 0 ? com::Variant::Null()
                                                          : com::Variant::I2(int16_t(list->currentData().toInt()));
            }
        }
        result = mEngine->SingleNormalClassify(row);
    }
    if (result < 0) {
        mPrediction->setText(tr("Error:  Bad Input Value"));
        mConf->setText(QStringLiteral("-"));
        return;
    }
    const QString className = mClassNames ? QString::fromStdString(mClassNames->Class(mOutputField, result)) : QString();
    const QString output = mOutputField >= 0 ? QString::fromStdString(mDDO->FieldName(mOutputField)) : QString();
    mPrediction->setText(output + tr(" is ") + className);
    const float confidence = mEngine->SingleNormalConfidence(mEngine->LastPredictNode());
    mConf->setText(MFormat::Pattern(confidence, QStringLiteral("0")) + QStringLiteral("%"));
}

void UInteractive::Release() {
    mTimer.stop();
    mProject.reset();
    mDDO.reset();
    mEngine.reset();
    mClassNames.reset();
}

void UInteractive::hideEvent(QHideEvent* e) {
    // A pending prediction would find the references gone.
    if (!e->spontaneous()) Release();
}

// ---------------------------------------------------------------- layout

UInteractive::ScrollRange UInteractive::ScrollRule(int rows, double visible) {
    if (rows <= visible) return {false, 0, 1};
    return {true, rows - int(std::floor(visible)), std::max(1, Round(visible))};
}

void UInteractive::ApplyScrollRule() {
    if (mRowHeight <= 0) return;
    const ScrollRange r = ScrollRule(RowCount(), float(mFrame->height()) / float(mRowHeight));
    if (!r.enabled) {
        mScroll->setValue(0);
        mScroll->setRange(0, 0);
        mScroll->setEnabled(false);
        return;
    }
    mScroll->setRange(0, r.max);
    mScroll->setSingleStep(1);
    mScroll->setPageStep(r.largeChange);
    mScroll->setEnabled(true);
}

void UInteractive::SizeColumns() {
    const bool updates = updatesEnabled();
    setUpdatesEnabled(false);
    base::RecordErrors("UInteractive::SizeColumns", [&] {
        const int frameWidth = mFrame->width();
        mPanesFrameWidth = frameWidth;
        mPaneName->setGeometry(0, mPaneName->y(), Px(mDivider1 + kTpp), mPaneName->height());
        mPaneValue->setGeometry(Px(mDivider1), mPaneValue->y(), Px(mDivider2 - mDivider1 + 3 * kTpp), mPaneValue->height());
        mPaneRange->setGeometry(Px(mDivider2 + kTpp), mPaneRange->y(), std::max(0, frameWidth - Px(mDivider2)),
                                mPaneRange->height());
        for (QLabel* l : mNames) l->setGeometry(0, l->y(), std::max(0, mPaneName->width() - Px(180)), l->height());
        for (UTextSpin* s : mSpins) s->resize(std::max(1, mPaneValue->width() - 2), s->height());
        for (QComboBox* c : mLists) c->resize(std::max(1, mPaneValue->width() - 2), c->height());
        for (QLabel* l : mRanges) l->resize(mPaneRange->width(), l->height());
    });
    setUpdatesEnabled(updates);
}

int UInteractive::HeaderTop() const { return mFrame->y() - fontMetrics().height() - 4; }

void UInteractive::resizeEvent(QResizeEvent*) {
    const char* where = "UInteractive::resizeEvent";  // a step that fails is skipped
    if (width() * kTpp < 1700 || height() * kTpp < 1700 || mInResize) return;
    mInResize = true;
    base::RecordErrors(where, [&] {
        mScroll->setGeometry(width() - mScroll->width(), mScroll->y(), mScroll->width(), height() - mScroll->y());
    });
    base::RecordErrors(where, [&] {
        mFrame->setGeometry(0, mFrame->y(), width() - mScroll->width() - 1, mScroll->height() - 1);
    });
    base::RecordErrors(where, [&] {
        const int top = HeaderTop();
        mShadow->setGeometry(mShadow->x(), top, mShadow->width(), mFrame->y() - top + mFrame->height());
    });
    base::RecordErrors(where, [&] {
        // The panes span the frame width they were last sized to (plus the
        // overlaps); counted in twips so that pixel rounding does not creep in.
        const double delta = (mFrame->width() - mPanesFrameWidth) * kTpp / 3.0;
        if (mDivider1 + delta >= kMinColumn) mDivider1 = Round(mDivider1 + delta);
        if (mDivider2 + 2 * delta - mDivider1 >= kMinColumn) mDivider2 = Round(mDivider2 + 2 * delta);
    });
    base::RecordErrors(where, [&] {
        mConfFrame->move(std::max(Px(4000), width() - mConfFrame->width() - Px(120)), mConfFrame->y());
        mPredictionFrame->resize(std::max(Px(3615), width() - mConfFrame->width() - Px(510)), mPredictionFrame->height());
        mPrediction->resize(mPredictionFrame->width() - 12, mPrediction->height());
    });
    SizeColumns();
    if (mRowHeight > 0) base::RecordErrors(where, [&] { ApplyScrollRule(); });
    mInResize = false;
}

void UInteractive::paintEvent(QPaintEvent*) {
    base::RecordErrors("UInteractive::paintEvent", [&] {
        QPainter p(this);
        const int top = HeaderTop(), bottom = mFrame->y();
        const int d1 = Px(mDivider1), d2 = Px(mDivider2);
        const int r3 = (mPaneRange->width() * kTpp + mDivider2) / kTpp + 1;
        const struct {
            int left, right;
            QString title;
        } boxes[] = {{0, d1 + 1, tr("Field Name")},
                     {d1 + 1, d2 + 2, tr("Value")},
                     {d2 + 2, r3, tr("Range")},
                     {r3, width(), QString()}};
        for (const auto& b : boxes) {
            QStyleOptionButton option;
            option.initFrom(this);
            option.rect = QRect(b.left, top, std::max(0, b.right - b.left), bottom - top);
            option.state |= QStyle::State_Raised;
            style()->drawControl(QStyle::CE_PushButtonBevel, &option, &p, this);
            if (!b.title.isEmpty()) p.drawText(option.rect, Qt::AlignCenter | Qt::TextSingleLine, b.title);
        }
        p.setPen(palette().color(QPalette::Mid));
        p.drawLine(0, top, width(), top);
    });
}

void UInteractive::mouseMoveEvent(QMouseEvent* e) {
    base::RecordErrors("UInteractive::mouseMoveEvent", [&] {
        const double x = e->position().x() * kTpp, y = e->position().y() * kTpp;
        if (mDragMode == 0) {
            const bool inBand = y > HeaderTop() * kTpp && y < mFrame->y() * kTpp;
            const bool over = inBand && (std::abs(x - mDivider1) < 3 * kTpp || std::abs(x - mDivider2) < 3 * kTpp);
            if (over) {
                mHoverCapture = true;
                setCursor(Qt::SizeHorCursor);
            } else if (mHoverCapture) {
                mHoverCapture = false;
                unsetCursor();
            }
            return;
        }
        if (mDragMode == 1 && x >= kMinColumn && mDivider2 - x >= kMinColumn) {
            mDivider1 = Round(x);
            mShadow->move(Px(mDivider1), mShadow->y());
            update();
        } else if (mDragMode == 2 && x - mDivider1 >= kMinColumn &&
                   (width() - mScroll->width()) * kTpp - x > kScrollRoom) {
            mDivider2 = Round(x);
            mShadow->move(Px(mDivider2), mShadow->y());
            update();
        }
    });
}

void UInteractive::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !mHoverCapture) return;
    const double x = e->position().x() * kTpp;
    if (std::abs(x - mDivider1) < 3 * kTpp) mDragMode = 1;
    else if (std::abs(x - mDivider2) < 3 * kTpp) mDragMode = 2;
    else mDragMode = 0;
    if (mDragMode == 0) {
        mShadow->hide();
        return;
    }
    mShadow->move(Px(mDragMode == 1 ? mDivider1 : mDivider2), HeaderTop());
    mShadow->resize(mShadow->width(), mFrame->y() - HeaderTop() + mFrame->height());
    mShadow->show();
    mShadow->raise();
}

void UInteractive::mouseReleaseEvent(QMouseEvent*) {
    if (!mHoverCapture || mDragMode == 0) return;
    mShadow->hide();
    SizeColumns();
    update();
    mDragMode = 0;
}

#include "CBrowseView.h"

#include "CBrowseGrid.h"
#include "CBrowseHeader.h"
#include "CDataDef.h"
#include "MMarks.h"
#include "ErrorGuard.h"
#include "MUtilities.h"
#include "UGrid.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>

namespace {

// A colour written as &HBBGGRR.
QColor Bgr(unsigned v) { return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF)); }

int Twips(int twips) { return twips / MUtilities::TwipsPerPixel; }

// The number at the start of a text, 0 when it does not start with one.
double LeadingNumber(const QString& text) {
    const std::string s = text.trimmed().toStdString();
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
    }
    if (digits == 0) return 0;
    return std::strtod(s.substr(0, i).c_str(), nullptr);
}

}  // namespace

CBrowseView::~CBrowseView() { Destroy(); }

UGrid* CBrowseView::Panel() const { return mTG ? qobject_cast<UGrid*>(mTG->parentWidget()) : nullptr; }

void CBrowseView::Bind(QWidget* grid) {
    auto* tg = qobject_cast<CBrowseGrid*>(grid);
    if (!tg) return;
    mTG = tg;
    mTG->SetBoundView(this);
    mTG->events.dblClick = [this] { DblClick(); };
    mTG->events.keyPress = [this](int key) { KeyPress(key); };
    mTG->events.mouseDown = [this](Qt::MouseButton b, int col, int row, bool heading) {
        MouseDown(b, col, row, heading);
    };
    mTG->events.colResize = [this](int col, bool& cancel) { ColResize(col, cancel); };
    CBrowseModel* model = mTG->Model();
    model->formatText = [this](int col, QVariant& value) { FormatText(col, value); };
    model->cellTip = [this](int row) { return FetchCellTips(row); };
    model->headTip = FetchCellTips(-1);
    mTG->setVisible(false);
    SetupGrid();
    mTG->setVisible(true);
}

void CBrowseView::Refresh() {
    if (mTG) mTG->Model()->InvalidateAll();
}

void CBrowseView::Destroy() {
    if (mTG && mTG->BoundView() == this) {
        mTG->events = GridEvents();
        CBrowseModel* model = mTG->Model();
        model->formatText = nullptr;
        model->cellTip = nullptr;
        model->rowStyle = nullptr;
        model->headTip.clear();
        mTG->SetBoundView(nullptr);
    }
    mTG = nullptr;
}

void CBrowseView::SetupGrid() {
    if (!mDataDef || !mTG) return;
    CBrowseModel* model = mTG->Model();
    // Each step is made on its own; a failing one is skipped.
    auto step = [](auto&& body) { base::RecordErrors("CBrowseView::SetupGrid", body); };
    step([&] { model->ResetColumns(); });
    auto& cols = model->Columns();
    step([&] {
        if (cols.empty()) return;
        GridColumn& mark = cols[0];
        mark.valueItems = {{0, QString(), QPixmap()}, {-1, QString(), Panel() ? Panel()->GetCheckMarkPicture() : QPixmap()}};
        mark.translate = true;
    });
    std::map<std::string, bool> used;  // by field name
    std::string outputName;
    step([&] {
        for (int16_t i = 0; i < mDataDef->FieldCount(); ++i) {
            const int16_t mt = mDataDef->UserMatchType(i);
            used[mDataDef->FieldName(i)] = mt != -1 && mt != -2;
            if (mt == 15) outputName = mDataDef->FieldName(i);
        }
    });
    step([&] { mTG->AddSplit(); });
    step([&] { mTG->SetHeadLines(2); });
    SetupSplits();
    int firstUsed = 0;
    for (int i = 0; i < int(cols.size()); ++i) {
        step([&] {
            GridColumn& c = cols[size_t(i)];
            if (i == 0) {
                c.visible[0] = true;
                c.visible[1] = false;
                c.backColor = Bgr(0xC8C8C8);
                c.headColor = Bgr(0xFFFF);
                c.headAlignment = Qt::AlignCenter;
                c.caption = QStringLiteral("*");
                c.width = Twips(280);
            } else if (i < mLayout.fixedColumns) {
                c.visible[0] = true;
                c.visible[1] = false;
                c.headColor = Bgr(0xFFFF);
                c.width = Twips(1200);
                c.alignment = Qt::AlignCenter;
                c.headAlignment = Qt::AlignCenter;
            } else {
                c.visible[0] = false;
                c.visible[1] = true;
                c.width = Twips(1200);
                const std::string name = (c.sourceField.isEmpty() ? c.dataField : c.sourceField).toStdString();
                auto it = used.find(name);
                if (it == used.end() || !it->second) {
                    c.headColor = Bgr(0x808080);
                    c.foreColor = Bgr(0x808080);
                } else {
                    if (firstUsed == 0) firstUsed = i;
                }
            }
        });
    }
    FinishLayout(outputName);
    // No column narrower than its heading in the font the grid draws it with.
    step([&] {
        const CBrowseHeader* header = mTG->Header(1);
        for (size_t i = 1; i < cols.size(); ++i)
            cols[i].width = std::max(cols[i].width, header->HeadingWidth(cols[i].caption));
    });
    step([&] {
        mTG->SetRecordSelectors(0, true);
        mTG->SetRecordSelectors(1, false);
    });
    step([&] {
        model->LayoutChanged();
        mTG->ApplyLayout();
        mTG->SetLeftCol(1, firstUsed);
    });
}

void CBrowseView::DblClick() {
    RecordsetPtr rs;
    try {
        if (mHeaderClick || !mTG) return;
        const int row = mTG->Row();
        if (row < 0) return;
        UGrid* panel = Panel();
        rs = panel ? panel->RecordSet() : nullptr;
        if (!rs || !rs->Updatable()) return;
        // Only the mark of table Test is ever written, never a data column.
        const int markField = MMarks::MarkField(rs);
        if (markField < 0) return;
        if (rs->AbsolutePosition() != row) rs->SetAbsolutePosition(row);
        MMarks::ToggleCurrent(panel->Database(), rs, markField);
        mTG->Model()->InvalidateRows(row, row);
    } catch (...) {
        // Not marked (another program writing the project past the busy
        // timeout, say): the status bar says so and why, as does the trace.
        const std::exception_ptr why = std::current_exception();
        base::RecordCaught("CBrowseView::DblClick");
        MMarks::SayNotToggled(why);
        // The record set keeps no mark that was not stored.
        base::RecordErrors("CBrowseView::DblClick", [&] {
            if (rs && rs->EditMode() != dao::dbEditNone) rs->CancelUpdate();
        });
    }
}

void CBrowseView::KeyPress(int key) {
    if (key == 32) DblClick();
}

void CBrowseView::MouseDown(Qt::MouseButton button, int col, int row, bool heading) {
    base::RecordErrors("CBrowseView::MouseDown", [&] {
        mHeaderClick = heading;
        if (button != Qt::RightButton || !mTG) return;
        if (mLayout.rightClickNeedsRow && mTG->Row() < 0) return;
        UGrid* panel = Panel();
        if (heading) {
            mColumn = int16_t(col);
            if (col == -1) return;
            mTG->SetSplit(col <= 1 ? 0 : 1);
            mTG->SetCol(col);
            if (panel) panel->ShowPopup(QString());
        } else if (row != -1) {
            mColumn = int16_t(col);
            if (col == -1) return;
            mTG->SetSplit(col <= mLayout.rowMenuFixedLast ? 0 : 1);
            mTG->SetCol(col);
            mTG->SetRow(row);
            if (panel) panel->ShowPopup(QStringLiteral("popCopy"));
        }
    });
}

void CBrowseView::ColResize(int col, bool& cancel) {
    if (col >= 0 && col <= mLayout.lockedLast) cancel = true;
}

void CBrowseView::FormatText(int col, QVariant& value) const {
    if (col < mLayout.formatFirst || col > mLayout.formatLast) return;
    if (!value.isValid() || value.isNull()) {
        value = QStringLiteral("N/A");
        return;
    }
    const QString text = value.toString();
    if (LeadingNumber(text) == -123.456) value = QStringLiteral("N/A");
    else value = text;
}

QString CBrowseView::FetchCellTips(int row) const {
    return row == -1 ? QStringLiteral("Right Click Column Header To Sort")
                     : QStringLiteral("Double Click Or Space Bar To Set Mark");
}

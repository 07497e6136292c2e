// The field-selection step: every field of the data table is in one of three
// places, the fields to ignore, the inputs, or the one field to predict. The
// user moves fields with six buttons or by dragging them, and double-clicks a
// numeric input to compare it as text. Next writes each field's match type
// into the field definitions and raises NavNext.
//
// Dragging is done with the panel's own mouse handling (no nested event
// loop), so tests drive it with plain mouse events.
#pragma once

#include "IFieldSelectPanel.h"

#include <QRect>

#include <array>

class QLabel;
class QListWidget;
class QPushButton;
class QToolButton;

class UFieldSelect : public base::IFieldSelectPanel {
    Q_OBJECT
public:
    explicit UFieldSelect(QWidget* parent = nullptr);

    void Initialize(std::shared_ptr<CDataDef> dataDef) override;
    void Refresh() override;
    std::shared_ptr<CDataDef> CurrentDDO() const override { return mDDO; }
    bool MatchAsText(int16_t fieldNum) const override;
    bool Changed() const override { return mChanged; }

    // What the pointer shows while a field is dragged.
    enum class DragIcon { None, Drag, Drop, NotDrop };
    DragIcon CurrentDragIcon() const { return mIcon; }

    // The places of the controls for an inner size, in twips.
    struct Layout {
        QRect back, next, output, from, to, label4;
        std::array<QRect, 6> buttons;
    };
    static Layout ComputeLayout(int width, int height);
    // Where the " (As Text)" suffix starts, in pixels, for the widest field name.
    int SuffixPosition() const { return mTabPosition; }

protected:
    void resizeEvent(QResizeEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Place { None, From, To, Output };
    void FillLists(const std::shared_ptr<CDataDef>& dataDef);
    bool ValidInputField(int16_t n) const;
    bool ValidOutputField(int16_t n) const;
    void AddItemSorted(QListWidget* list, const QString& text, int16_t n);
    void MoveItems(Place source, Place target, bool allItems);
    void ToggleMatchType();
    void ApplyNextRule();
    void Next();
    QListWidget* ListOf(Place p) const;
    Place PlaceOf(QObject* o) const;
    Place PlaceAt(const QPoint& globalPos) const;
    int16_t FirstSelected(QListWidget* list) const;
    int16_t OutputField() const;
    void SetOutput(int16_t n);
    void SetIcon(DragIcon icon);
    QString Name(int16_t n) const;

    std::shared_ptr<CDataDef> mDDO;
    bool mChanged = false;
    bool mMouseDown = false;

    QListWidget* mFrom;
    QListWidget* mTo;
    QLabel* mOutput;
    QLabel* mLabel4;
    QLabel* mPredictLabel;
    QLabel* mIgnoreLabel;
    QPushButton* mNext;
    QPushButton* mBack;
    std::array<QToolButton*, 6> mButtons{};
    int mTabPosition = 0;

    Place mPressPlace = Place::None;
    QPoint mPressPos;
    Place mDragSource = Place::None;
    DragIcon mIcon = DragIcon::None;
};

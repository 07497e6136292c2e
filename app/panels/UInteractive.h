// The live-prediction view: one row per input field (its name, an editor for
// a value, its range), and the class that the current rule tree predicts for
// the edited values with the confidence of the leaf reached. Edits are
// gathered for 200 ms, so a burst of edits gives one prediction.
//
// Layout: a painted header with three column titles over three panes that
// scroll together by whole rows; the two dividers are dragged in the header.
#pragma once

#include "IInteractivePanel.h"

#include <QTimer>
#include <QVector>

#include <cstdint>
#include <vector>

class CClassNames;
class QComboBox;
class QGroupBox;
class QLabel;
class QScrollBar;
class UTextSpin;

class UInteractive : public base::IInteractivePanel {
    Q_OBJECT
public:
    explicit UInteractive(QWidget* parent = nullptr);
    ~UInteractive() override;

    // Builds the rows for the project; does nothing without a project or definitions.
    void Initialize(std::shared_ptr<CProject> project, std::shared_ptr<CDataDef> dataDef,
                    std::shared_ptr<CTRX> trx) override;
    // Loads the row of that primary key (null: the first row) and predicts.
    // A key that is not found, or an empty table, leaves each input at its
    // field's mean or first class and says so in the status bar.
    void SetRow(const QVariant& key) override;

    // Decimal places and step of a numeric field's spin box.
    struct SpinSetup {
        int16_t places;
        double step;
    };
    static SpinSetup ChooseSpin(int16_t fieldType, double min, double max);

    // The scroll bar for rows rows with room for visible rows.
    struct ScrollRange {
        bool enabled;
        int max;
        int largeChange;
    };
    static ScrollRange ScrollRule(int rows, double visible);

    // Column dividers, in twips from the view's left edge.
    int Divider1() const { return mDivider1; }
    int Divider2() const { return mDivider2; }
    int RowCount() const { return int(mFieldIndex.size()); }

protected:
    void resizeEvent(QResizeEvent*) override;
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    // Tab and Shift+Tab go down and up the rows as shown, whatever order
    // their editors were made in.
    bool focusNextPrevChild(bool next) override;

private:
    void Predict();
    void SetupSpin(int spin, int row);
    void SizeColumns();
    void ApplyScrollRule();
    // Scrolls the rows by whole rows until the editor's row shows whole.
    void ShowRowOf(QWidget* editor);
    void RestartTimer();
    void Release();
    QLabel* NameLabel(int row);
    QLabel* RangeLabel(int row);
    UTextSpin* Spin(int index);
    QComboBox* List(int index);
    int HeaderTop() const;  // pixels

    std::shared_ptr<CProject> mProject;
    std::shared_ptr<CDataDef> mDDO;
    std::shared_ptr<CTRX> mEngine;
    std::unique_ptr<CClassNames> mClassNames;
    std::vector<int16_t> mFieldIndex;
    std::vector<QWidget*> mEditors;
    int16_t mOutputField = -1;
    int mRowHeight = 0;  // pixels
    bool mBusy = false;

    QVector<QLabel*> mNames, mRanges;
    QVector<UTextSpin*> mSpins;
    QVector<QComboBox*> mLists;
    QGroupBox* mPredictionFrame;
    QGroupBox* mConfFrame;
    QLabel* mPrediction;
    QLabel* mConf;
    QWidget* mFrame;
    QWidget* mPaneName;
    QWidget* mPaneValue;
    QWidget* mPaneRange;
    QWidget* mShadow;
    QScrollBar* mScroll;
    QTimer mTimer;

    int mDivider1 = 0, mDivider2 = 0;  // twips
    int mPanesFrameWidth = 0;  // pixels
    int mDragMode = 0;
    bool mHoverCapture = false;
    bool mInResize = false;
};

// The legend strip of the prune and report panels: the tree's figures (total
// and for the node under the pointer), the colour mode of the flow chart and
// its contrast. Raises ColorChange only for the user's own choices.
#pragma once

#include <QWidget>

#include <cstdint>

class QButtonGroup;
class QLabel;
class QRadioButton;
class QSlider;

class UChartReport : public QWidget {
    Q_OBJECT
public:
    explicit UChartReport(QWidget* parent = nullptr);

    // Items below 0 show "-", an empty confidence and "-".
    void SetLocalValues(int32_t items, int16_t confidence);
    void SetTotalValues(int32_t items, int16_t confidence);
    // ColorMode: 0 quantity, 1 confidence, 2 classes.
    int16_t ColorItems() const;
    void SetColorItems(int16_t mode);
    // 0..100: 100 less the slider position.
    int16_t Contrast() const;
    void SetContrast(int16_t contrast);
    bool ColorEnabled() const;
    void SetColorEnabled(bool enabled);

signals:
    void ColorChange(int16_t mode, int16_t contrast);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OptionSelected(int index);
    void SliderMoved(int position);
    void SetContrastEnabled(bool enabled);

    QButtonGroup* mOptions;
    QRadioButton* mOption[3];
    QLabel* mModeCaption[3];
    QLabel* mTotalItems;
    QLabel* mLocalItems;
    QLabel* mTotalConf;
    QLabel* mLocalConf;
    QLabel* mLocalPct;
    QLabel* mContrastCaption;
    QSlider* mSlider;
    bool mUpdating = false;
};

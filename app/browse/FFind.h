// The find dialog: one modeless window owned by the grid panel. It collects a
// search text (with a history of the last ten), Match Case and the direction,
// and raises FindNext; the panel runs the search and sets the caption.
#pragma once

#include <QDialog>
#include <QString>

#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

class FFind : public QDialog {
    Q_OBJECT
public:
    explicit FFind(QWidget* parent = nullptr);

    // Does what the Find Next button does, when it is enabled.
    void FindNext();
    const std::array<QString, 10>& History() const { return mFindHist; }
    // Runs the steps of the dialog becoming active (also run by every Find Next).
    void Form_Activate();

    QComboBox* cmbFind;
    QCheckBox* chkMatchCase;
    QRadioButton* optDirection[2];
    QPushButton* cmdFindNext;
    QPushButton* cmdCancel;

signals:
    void FindNextRequested(const QString& findString, bool matchCase, bool dirDown);
    void Activate();

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void cmbFind_Change();
    void cmdFindNext_Click();
    void AddToFindHist(const QString& text);

    std::array<QString, 10> mFindHist;
    bool mDirDown = true;
    bool mPlaced = false;
};

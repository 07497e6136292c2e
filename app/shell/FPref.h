// The preferences window: recent-file count, auto-load, toolbar and export
// delimiter, in registry section "Config". OK stores them; Cancel does not.
#pragma once

#include <QDialog>

#include <cstdint>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QRadioButton;
class QPushButton;

class FPref : public QDialog {
    Q_OBJECT
public:
    // Help context of this window (the help program's number for it).
    static constexpr int kHelpContextId = 6050;

    explicit FPref(QWidget* mainWindow);

    int16_t NumRecents() const { return mNumRecents; }

    QComboBox* NumRecentsBox() const { return mCmbNumRec; }
    QCheckBox* AutoloadBox() const { return mChkAutoload; }
    QCheckBox* ToolbarBox() const { return mChkToolbar; }
    QRadioButton* DelimButton(int index) const { return mOptDelim[index]; }

    void cmdDefaults_Click();
    void cmdOK_Click();
    void cmdCancel_Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void Load(QWidget* mainWindow);
    void FillNumbers(int select);

    int16_t mNumRecents = 0;
    bool mAutoLoad = false;
    bool mShowToolbar = false;
    int16_t mTextDelim = 0;
    QComboBox* mCmbNumRec = nullptr;
    QCheckBox* mChkAutoload = nullptr;
    QCheckBox* mChkToolbar = nullptr;
    QRadioButton* mOptDelim[2] = {};
    QButtonGroup* mDelimGroup = nullptr;
};

// The entry editor of the graphics table: a name (field 101) and a picture
// file (field 102, Browse). OK needs a name that no other entry has.
#pragma once

#include <QDialog>
#include <QStringList>

class QLineEdit;
class QPushButton;

namespace nodars {

class CGraphicInfoDialog : public QDialog {
public:
    // names: every entry's name; index: the entry edited (names.size() for a new one).
    CGraphicInfoDialog(const QStringList& names, int index, QWidget* parent = nullptr);

    QString Name() const;
    QString Path() const;
    void Browse();
    void Accept();

private:
    QStringList mNames;
    int mIndex;
    QLineEdit* mName;
    QLineEdit* mPath;
    QPushButton* mOk;
};

}  // namespace nodars

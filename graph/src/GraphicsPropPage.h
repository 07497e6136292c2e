// The graphics table as a list with a preview and New, Modify and Remove: the
// Graphics property page, and the body of the table dialog (which also shows
// the shape table). Changes go through the control's dispatch interface.
#pragma once

#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;

namespace nodars {

class CNodars32Ctrl;

class GraphicsPropPage : public QWidget {
public:
    enum class Mode { Page, Edit, Choose };
    GraphicsPropPage(CNodars32Ctrl& control, Mode mode, bool shapes, QWidget* parent = nullptr);

    int Selected() const;
    void Select(int entry);
    bool Changed() const { return mChanged; }
    void New();
    void Modify();
    void Remove();
    QListWidget* List() const { return mList; }
    // Whether Modify and Remove are open for the entry under the permission rules.
    void UpdateButtons();

private:
    void Rebuild(int select);
    void PaintPreview(QPainter& p, const QRect& r) const;
    bool EditEntry(int index);
    QStringList Names() const;

    CNodars32Ctrl& mCtl;
    Mode mMode;
    bool mShapes;
    bool mChanged = false;
    QListWidget* mList;
    QLabel* mCount;
    QWidget* mPreview;
    QPushButton* mNew;
    QPushButton* mModify;
    QPushButton* mRemove;
};

}  // namespace nodars

// The status bar of the main window: seven panels by key ("Main" the message
// line, "Project" the row count, "Date" fixed at start ...) and a size grip.
#pragma once

#include <QStatusBar>
#include <QString>

#include <cstdint>

class QLabel;
class QProgressBar;

class UStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit UStatusBar(QWidget* parent = nullptr);

    // -1 hides the row-count panel; any other value shows " " & count & " Rows ".
    void MsgRecordCount(int32_t count);
    // The message line: " " & text & " ".
    void SetMainText(const QString& text);

    // Panels by 1-based index or key; null when none.
    QLabel* Panel(int index) const;
    QLabel* Panel(const QString& key) const;
    int PanelCount() const { return kPanels; }

signals:
    void KeyDown(int16_t& keyCode, int16_t& shift);
    void KeyUp(int16_t& keyCode, int16_t& shift);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    static constexpr int kPanels = 7;
    QLabel* mPanels[kPanels] = {};
    QProgressBar* mProgress = nullptr;
};

// The flow-chart print dialog: the number of pages across, the printer set-up,
// Cancel and OK. It owns the printer, made on OK or on "Printer Setup..." from
// the default printer turned to landscape.
#pragma once

#include <QDialog>

#include <cstdint>
#include <memory>

class QLabel;
class QPrinter;
class QToolButton;

class FPrint : public QDialog {
    Q_OBJECT
public:
    explicit FPrint(QWidget* owner = nullptr);
    ~FPrint() override;

    bool Canceled() const { return mCanceled; }
    // -1 fit to page (printed as 1 page wide), 1..20 the pages across.
    int16_t TiledPages() const { return mTiledPages; }
    // Null until OK or the set-up made it.
    QPrinter* Printer() const { return mPrinter.get(); }

    // The spin button: down lowers the pages by one, up raises them; 1..20.
    void ChangeTile(bool down);
    QLabel* TileLabel() const { return mTile; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void GetInitialDC();
    void Ok();
    void Cancel();
    void PrinterSetup();

    std::unique_ptr<QPrinter> mPrinter;
    int16_t mTiledPages = -1;
    bool mCanceled = true;
    bool mClosing = false;
    QLabel* mTile = nullptr;
    QLabel* mPagesLabel = nullptr;
};

// Something the graph control can print or draw into through a 32-bit handle:
// a printer (real or PDF), pages of images, or a painter that is already open.
// It answers the questions a device context answers (resolution, printable
// size) and runs documents and pages. A document started while another is open
// on the same target joins it: only the outermost end closes it, so a host's
// print job and the control's own job come out as one document.
#pragma once

#include <QPainter>
#include <QSize>
#include <QString>

namespace ui {

class DrawTarget {
public:
    virtual ~DrawTarget() = default;
    DrawTarget() = default;
    DrawTarget(const DrawTarget&) = delete;
    DrawTarget& operator=(const DrawTarget&) = delete;

    virtual int DpiX() const = 0;
    virtual int DpiY() const = 0;
    // The printable area in device units; the painter's origin is its top-left.
    virtual QSize PageSize() const = 0;
    // The painter of the current page, or null when nothing can be drawn now.
    virtual QPainter* Painter() = 0;

    bool StartDoc(const QString& name);
    // The first page of a document is the one the document opened with.
    bool StartPage();
    void EndPage() {}
    void EndDoc();
    bool InDocument() const { return mDepth > 0; }
    int Pages() const { return mPages; }

protected:
    virtual bool BeginDocument(const QString& name) = 0;
    virtual bool NextPage() = 0;
    virtual void EndDocument() = 0;

private:
    int mDepth = 0;
    int mPages = 0;
};

}  // namespace ui

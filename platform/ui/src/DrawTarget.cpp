#include "ui/DrawTarget.h"

namespace ui {

bool DrawTarget::StartDoc(const QString& name) {
    if (mDepth > 0) {
        ++mDepth;
        return true;
    }
    if (!BeginDocument(name)) return false;
    mDepth = 1;
    mPages = 0;
    return true;
}

bool DrawTarget::StartPage() {
    if (mDepth == 0) return false;
    if (mPages++ == 0) return true;
    return NextPage();
}

void DrawTarget::EndDoc() {
    if (mDepth == 0) return;
    if (--mDepth == 0) EndDocument();
}

}  // namespace ui

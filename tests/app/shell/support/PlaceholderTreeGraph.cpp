#include "PlaceholderTreeGraph.h"

#include "PlaceholderLook.h"

#include <QHideEvent>
#include <QShowEvent>

PlaceholderTreeGraph::PlaceholderTreeGraph(QWidget* parent) : base::ITreeGraphPanel(parent) {
    PlaceholderLook::Decorate(this, QStringLiteral("Rule Tree"));
}

int32_t PlaceholderTreeGraph::TreeType() const {
    return treeType;
}

void PlaceholderTreeGraph::SetTreeType(int32_t type) {
    Record(QStringLiteral("SetTreeType(%1)").arg(type));
    treeType = type;
}

QWidget* PlaceholderTreeGraph::Tree() const {
    return nullptr;
}

QTreeWidget* PlaceholderTreeGraph::TreeView() const {
    return nullptr;
}

IDispatch* PlaceholderTreeGraph::GraphControl() const {
    return nullptr;
}

ITreeDisplayTarget* PlaceholderTreeGraph::DisplayTarget() { return nullptr; }

int16_t PlaceholderTreeGraph::Zoom() const {
    return zoom;
}

void PlaceholderTreeGraph::SetZoom(int16_t percent) {
    Record(QStringLiteral("SetZoom(%1)").arg(percent));
    zoom = percent;
}

void PlaceholderTreeGraph::Expand() {
    Record(QStringLiteral("Expand()"));
}

void PlaceholderTreeGraph::Collapse() {
    Record(QStringLiteral("Collapse()"));
}

double PlaceholderTreeGraph::GetXExtremes(double& minX, double& maxX) const {
    minX = 0;
    maxX = 0;
    return 0;
}

void PlaceholderTreeGraph::showEvent(QShowEvent* event) {
    base::ITreeGraphPanel::showEvent(event);
    if (!event->spontaneous()) emit Show();
}

void PlaceholderTreeGraph::hideEvent(QHideEvent* event) {
    base::ITreeGraphPanel::hideEvent(event);
    if (!event->spontaneous()) emit Hide();
}

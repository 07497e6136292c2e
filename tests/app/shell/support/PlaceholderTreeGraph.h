// Stands in for the rule tree panel in the shell's tests: shows
// its caption and records the calls it receives.
#pragma once

#include "ITreeGraphPanel.h"

#include <QStringList>

class PlaceholderTreeGraph : public base::ITreeGraphPanel {
public:
    explicit PlaceholderTreeGraph(QWidget* parent = nullptr);

    int32_t TreeType() const override;
    void SetTreeType(int32_t type) override;
    QWidget* Tree() const override;
    QTreeWidget* TreeView() const override;
    IDispatch* GraphControl() const override;
    int16_t Zoom() const override;
    void SetZoom(int16_t percent) override;
    void Expand() override;
    void Collapse() override;
    double GetXExtremes(double& minX, double& maxX) const override;
    // Nothing for the tree driver to fill.
    ITreeDisplayTarget* DisplayTarget() override;

    QStringList calls;
    int32_t treeType = 0;
    int16_t zoom = 0;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void Record(const QString& call) { calls << call; }
};

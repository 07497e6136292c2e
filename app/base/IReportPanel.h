// The report step panel as the shell sees it. Link numbers are ReportLink.
#pragma once

#include "INavPanel.h"
#include "UPanel.h"

#include <cstdint>

namespace base {

// The report panel's navigation links, by index.
enum ReportLink : int16_t {
    kLinkBrowseAll = 0,
    kLinkBrowseTest = 1,
    kLinkMatrix = 2,
    kLinkFieldStats = 3,
    kLinkClassList = 4,
    kLinkTree = 5,
    kLinkFlow = 6,
    kLinkLivePredict = 7,
};
constexpr int kReportLinkCount = 8;

class IReportPanel : public UPanel, public INavPanel {
    Q_OBJECT
public:
    explicit IReportPanel(QWidget* parent = nullptr);
    ~IReportPanel() override;

    virtual int16_t ColorItems() const = 0;
    virtual void SetColorItems(int16_t mode) = 0;
    virtual int16_t Contrast() const = 0;
    virtual void SetContrast(int16_t contrast) = 0;
    // Highlights link index, un-highlights the others, shows the matching part.
    virtual void SetNavigate(int16_t index) = 0;
    virtual void EnableLink(int16_t index) = 0;
    virtual void DisableLink(int16_t index) = 0;
    virtual void SetTotalValues(int32_t items, int16_t confidence) = 0;
    virtual void SetLocalValues(int32_t items, float confidence) = 0;

signals:
    void NavNext();  // redo the extraction
    void Navigate(int16_t index);
    // 0 all, 1 marked, 2 unmarked, 3 correct, 4 incorrect.
    void Filter(int16_t option);
    void ColorChange(int16_t mode, int16_t contrast);
};

}  // namespace base

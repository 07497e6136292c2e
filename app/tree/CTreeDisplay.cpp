#include "CTreeDisplay.h"

#include <cmath>
#include <vector>

#include "AppErrors.h"
#include "ErrorGuard.h"
#include "CClassNames.h"
#include "CDataDef.h"
#include "CRuleText.h"
#include "CTreeModel.h"
#include "ITreeDisplayTarget.h"
#include "ITreeView.h"
#include "nodars/Nodars32.h"

namespace {

constexpr uint32_t kWhiteText = 0xFFFFFF;
constexpr float kWhiteTextFrom = 0.47f;  // shades at least this deep take white text

std::string Key(int32_t node) { return "N" + std::to_string(node); }

// Late-bound calls on the graph control; a failure raises its number.
void Check(HRESULT hr) {
    if (FAILED(hr)) throw com::Error(hr, "Automation error");
}
void Put(IDispatch* g, DISPID id, const com::Variant& value) { Check(com::PropertyPut(g, id, value)); }
void PutItem(IDispatch* g, DISPID id, int32_t ix, const com::Variant& value) {
    Check(com::PropertyPut(g, id, value, {com::Variant::I2(int16_t(ix))}));
}

uint32_t Rgb(int r, int g, int b) { return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16; }

// 255 less the shade: the share of the colour left white.
int Lightness(float x) { return 255 - int(std::floor(x * 255.0f)); }

}  // namespace

void CTreeDisplay::Display(ITreeDisplayTarget& panel) const {
    if (panel.TreeType() != 0) {
        DisplayGraph(panel);
    } else if (ITreeView* view = panel.TreeView()) {
        DisplayTree(*view);
    }
}

bool CTreeDisplay::DisplayTree(ITreeView& view) const {
    if (!mTree) return false;
    return base::ShowErrors("CTRX::DisplayTree()", [&] {
        const CRuleText rules(*mTree, mFields);
        const CTreeModel& tree = *mTree;
        view.SetVisible(false);
        view.Clear();
        std::string root = "Start";
        if (tree.Nodes() == 1) root += "   [" + rules.OutputName() + " = " + rules.ClassText(0) + "]";
        view.Add("", Key(0), root);
        // An explicit stack: no recursion, however deep the tree.
        std::vector<int32_t> pending{0};
        while (!pending.empty()) {
            const int32_t n = pending.back();
            pending.pop_back();
            const int forks = tree.Node(n).Forks;
            for (int b = 0; b < forks; ++b) {
                const int32_t child = tree.Child(n, b);
                std::string text = rules.EdgeText(child);
                if (tree.Node(child).Forks == 0) {
                    text += "   [" + rules.OutputName() + " = " + rules.ClassText(child) + "]" + "  (" +
                            CRuleText::WholeNumber(mTree->Confidence(child)) + "% Confidence)";
                } else {
                    pending.push_back(child);
                }
                view.Add(Key(n), Key(child), text);
            }
        }
        view.Expand(Key(0));
        view.Select(Key(0));
        view.SetVisible(true);
        view.Refresh();
        return true;
    });
}

bool CTreeDisplay::DisplayGraph(ITreeDisplayTarget& panel) const {
    if (!mTree) return false;
    return base::ShowErrors("CTRX::DisplayGraph", [&] {
        IDispatch* g = panel.GraphControl();
        if (!g) throw app::RuntimeError(91, app::RuntimeErrorText(91));
        const CRuleText rules(*mTree, mFields);
        const CTreeModel& tree = *mTree;
        panel.SetGraphVisible(false);
        com::Variant result;
        Check(com::Invoke(g, nodars::dispidClear, DISPATCH_METHOD, {}, &result));
        std::string root = "Start";
        if (tree.Nodes() == 1) root += "\r\n   [" + rules.OutputName() + " = " + rules.ClassText(0) + "]";
        Check(com::Invoke(g, nodars::dispidAddItem, DISPATCH_METHOD, {com::Variant::Str(root)}, &result));
        for (int32_t n = 1; n < tree.Nodes(); ++n) {
            std::string text = rules.EdgeText(n);
            if (tree.Node(n).Forks == 0) text += "\r\n[" + rules.OutputName() + " = " + rules.ClassText(n) + "]";
            Check(com::Invoke(g, nodars::dispidAddItem, DISPATCH_METHOD, {com::Variant::Str(text)}, &result));
        }
        for (int32_t n = 0; n < tree.Nodes(); ++n)
            for (int b = 0; b < tree.Node(n).Forks; ++b)
                PutItem(g, nodars::dispidConnectTo, n, com::Variant::I2(tree.Child(n, b)));
        Put(g, nodars::dispidDrawScale, com::Variant::I2(0));
        Put(g, nodars::dispidAutoArrange, com::Variant::I2(2));
        panel.SetGraphVisible(true);
        return true;
    });
}

uint32_t CTreeDisplay::ExtraClassColor(int32_t classIndex) {
    // splitmix64, seeded per class so that a class always gets the same colour.
    uint64_t state = uint64_t((int64_t(classIndex) + 1) % 500);
    auto next = [&state] {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    };
    int c[3];
    for (int& v : c) {
        const double r = double(next() >> 11) * 0x1.0p-53;
        v = std::min(255, int(71 * r + 186));
    }
    return Rgb(c[0], c[1], c[2]);
}

bool CTreeDisplay::NodeColors(int32_t node, int16_t colorMode, float e, uint32_t* fill, uint32_t* text) const {
    if (!mTree) return false;
    const CTreeModel& tree = *mTree;
    const TRXNode& t = tree.Node(node);
    // Degenerate counts give no shade rather than a division by zero or NaN.
    float x = 0;
    bool made = true;
    switch (colorMode) {
    case 0: {
        const float root = tree.Node(0).Items;
        if (root > 0) x = std::pow(std::clamp(t.Items / root, 0.0f, 1.0f), e);
        const int v = Lightness(x);
        *fill = Rgb(v, v, 255);
        break;
    }
    case 1: {
        if (t.Items > 0) x = std::pow(std::clamp(1.0f - t.Errors / t.Items, 0.0f, 1.0f), e);
        const int v = Lightness(x);
        *fill = Rgb(255, v, v);
        break;
    }
    case 2:
        *fill = t.Class >= 0 && t.Class <= 6 ? kClassColors[t.Class] : ExtraClassColor(t.Class);
        break;
    default: made = false; break;
    }
    if (!std::isfinite(x)) x = 0;
    *text = x >= kWhiteTextFrom ? kWhiteText : 0;
    return made;
}

void CTreeDisplay::SetContrast(ITreeDisplayTarget& panel, int16_t colorMode, int16_t contrast) const {
    if (!mTree || panel.TreeType() != 1) return;
    IDispatch* g = panel.GraphControl();
    if (!g) return;
    if (contrast == 100 && colorMode != 2) {
        com::PropertyPut(g, nodars::dispidDrawColored, com::Variant::Bool(false));
        return;
    }
    com::PropertyPut(g, nodars::dispidDrawColored, com::Variant::Bool(true));
    const float e = float(contrast) / 100.0f;
    for (int32_t n = 0; n < mTree->Nodes(); ++n) {
        uint32_t fill = 0, text = 0;
        const bool made = NodeColors(n, colorMode, e, &fill, &text);
        const std::vector<VARIANT> ix{com::Variant::I2(int16_t(n))};
        if (made) com::PropertyPut(g, nodars::dispidItemFillColor, com::Variant::I4(int32_t(fill)), ix);
        com::PropertyPut(g, nodars::dispidItemTextColor, com::Variant::I4(int32_t(text)), ix);
    }
}

std::string CTreeDisplay::GetClassName(int32_t node) const {
    if (!mTree || node < 0 || node >= mTree->Nodes() || !mFields.dataDef) return {};
    const auto& dd = *mFields.dataDef;
    int16_t output = 0;
    for (int16_t i = 0; i < dd.FieldCount(); ++i)
        if (dd.UserMatchType(i) == MatchType::Output) {
            output = i;
            break;
        }
    const int16_t cls = mTree->Node(node).Class;
    if (!mFields.classNames || cls < 0) return {};
    return mFields.classNames->Class(output, cls);
}

std::string CTreeDisplay::NodeToolTip(int32_t node, int16_t colorMode) const {
    if (!mTree || node < 0 || node >= mTree->Nodes()) return {};
    const TRXNode& t = mTree->Node(node);
    const std::string confidence = CRuleText::WholeNumber(mTree->Confidence(node));
    switch (colorMode) {
    case 0: return com::Variant::R4(t.Items).ToUtf8() + " Cases";
    case 1: return confidence + "% Confidence)";
    case 2:
        if (t.Forks == 0) return GetClassName(node) + "  (" + confidence + "% " + "Confidence)";
        return GetClassName(node) + "  Tendency";
    default: return {};
    }
}

// The flow-chart arrangement: turns connection handles into grid places. Each
// connection asks, per axis, for an order or an alignment of its two items (a
// fixed table by source and target handle); contradictions and coinciding fan-outs
// drop the weakest requests; longest-path relaxation gives the coordinates.
// Axis 0 runs across the flow (Slot), axis 1 along it (Layer).
#pragma once

#include <cstdint>
#include <vector>

namespace nodars {

class CFlowChartSolver {
public:
    struct Link {
        int32_t from;  // item numbers (indexes)
        int32_t to;
        int32_t fromHandle;  // 1..4
        int32_t toHandle;
    };

    CFlowChartSolver(int32_t itemCount, std::vector<Link> links);
    void Solve();

    int32_t Slot(int32_t item) const { return mSlot[item]; }
    int32_t Layer(int32_t item) const { return mLayer[item]; }
    int32_t MaxSlot() const { return mMaxSlot; }
    int32_t MaxLayer() const { return mMaxLayer; }

private:
    static constexpr uint8_t kDisabled = 2;
    static constexpr int64_t kWalkBudget = 2000000;  // cycle-search steps per start item
    struct Constraint {
        int32_t low;
        int32_t high;
        int8_t relation;   // +1: high after low; -1: high before low; 0: same coordinate
        uint8_t priority;  // 0 or 1; kDisabled when dropped
    };
    struct Axis {
        std::vector<Constraint> constraints;  // sorted by (low, high), one per pair
        std::vector<int32_t> cls;
        std::vector<int32_t> coord;
    };

    void AddConstraint(int axis, int32_t from, int32_t to, int8_t relation, uint8_t priority);
    void BuildClasses(int axis);
    void BreakCycles(int axis);
    void ResolveFanOuts();
    bool DropAlignmentBetween(int axis, int32_t a, int32_t b);
    bool Relax();
    bool SeparateOverlaps();
    void CloseGaps(int axis);
    std::vector<int> Adjacent(int axis, int32_t item) const;

    int32_t mCount;
    std::vector<Link> mLinks;
    Axis mAxes[2];
    std::vector<int32_t> mComponent;
    std::vector<int32_t> mFlag;  // 1 while every incoming connection ends on handle 1 or 3
    std::vector<int32_t> mSlot;
    std::vector<int32_t> mLayer;
    int32_t mMaxSlot = 0;
    int32_t mMaxLayer = 0;
};

}  // namespace nodars

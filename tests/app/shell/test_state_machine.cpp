#include "CStateMachine.h"

#include "AppErrorOf.h"
#include "AppErrors.h"

#include <gtest/gtest.h>

#include <vector>

using shell::CStateMachine;

namespace {

struct Recorder {
    std::vector<int32_t> events;
    explicit Recorder(CStateMachine& m) {
        QObject::connect(&m, &CStateMachine::SetState, [this](int32_t s) { events.push_back(s); });
    }
};


}  // namespace

TEST(StateMachine, AssignmentsRaiseTheEventEvenUnchanged) {
    CStateMachine m;
    Recorder r(m);
    m.SetCount(5);
    m.SetStateValue(3);
    m.SetStateValue(3);
    EXPECT_EQ(r.events, (std::vector<int32_t>{3, 3}));
    EXPECT_EQ(m.State(), 3);
}

TEST(StateMachine, MoveHoldsTheStateInsideOneToCount) {
    CStateMachine m;
    Recorder r(m);
    m.SetCount(5);
    m.SetStateValue(5);
    m.Move(1);
    m.SetStateValue(1);
    m.Move(-1);
    m.Move(1);
    m.Move(-7);
    EXPECT_EQ(r.events, (std::vector<int32_t>{5, 5, 1, 1, 2, 1}));
}

TEST(StateMachine, RefusedWritesChangeNothingAndRaiseNothing) {
    CStateMachine m;
    Recorder r(m);
    m.SetCount(5);
    m.SetStateValue(2);
    r.events.clear();
    std::string text;
    EXPECT_EQ(ErrorOf([&] { m.SetCount(0); }, &text), 5);
    EXPECT_EQ(text, "StateMachine.Count requires one or more states. To clear the states, use StateMachine.Clear.");
    EXPECT_EQ(m.Count(), 5);
    EXPECT_EQ(ErrorOf([&] { m.SetStateValue(0); }, &text), 5);
    EXPECT_EQ(text, "StateMachine.State cannot be set less than 1. To clear the states, use StateMachine.Clear.");
    EXPECT_EQ(ErrorOf([&] { m.SetStateValue(6); }, &text), 5);
    EXPECT_EQ(text, "StateMachine.State cannot be set greater than StateMachine.Count.");
    EXPECT_EQ(m.State(), 2);
    EXPECT_TRUE(r.events.empty());

    // After Clear every Move fails as a state below 1, without an event.
    m.Clear();
    EXPECT_EQ(m.Count(), 0);
    EXPECT_EQ(m.State(), 0);
    EXPECT_EQ(ErrorOf([&] { m.Move(1); }, &text), 5);
    EXPECT_EQ(text, "StateMachine.State cannot be set less than 1. To clear the states, use StateMachine.Clear.");
    EXPECT_TRUE(r.events.empty());
}

#include "CStateMachine.h"

#include "AppErrors.h"

#include <cmath>
#include <limits>

namespace shell {

CStateMachine::CStateMachine(QObject* parent) : QObject(parent) {}

void CStateMachine::SetCount(int32_t count) {
    if (count < 1)
        throw app::RuntimeError(
            5, "StateMachine.Count requires one or more states. To clear the states, use StateMachine.Clear.");
    mCount = count;
}

void CStateMachine::SetStateValue(int32_t state) {
    if (state < 1)
        throw app::RuntimeError(
            5, "StateMachine.State cannot be set less than 1. To clear the states, use StateMachine.Clear.");
    if (state > mCount) throw app::RuntimeError(5, "StateMachine.State cannot be set greater than StateMachine.Count.");
    mState = state;
    emit SetState(state);
}

void CStateMachine::Clear() {
    mCount = 0;
    mState = 0;
}

void CStateMachine::Move(double delta) {
    // Conversion to a 32-bit whole number rounds halves to even and overflows with error 6.
    const double sum = std::nearbyint(double(mState) + delta);
    if (!(sum >= double(std::numeric_limits<int32_t>::min()) && sum <= double(std::numeric_limits<int32_t>::max())))
        app::RaiseError(6);
    int32_t next = int32_t(sum);
    if (next < 1) next = 1;
    if (next > mCount) next = mCount;
    SetStateValue(next);
}

}  // namespace shell

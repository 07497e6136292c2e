// A bounded state counter: every assignment of State raises SetState, also
// when the value does not change. Errors (number 5) reach the caller and
// leave both values as they were.
#pragma once

#include <QObject>

#include <cstdint>

namespace shell {

class CStateMachine : public QObject {
    Q_OBJECT
public:
    explicit CStateMachine(QObject* parent = nullptr);

    int32_t Count() const { return mCount; }
    void SetCount(int32_t count);
    int32_t State() const { return mState; }
    void SetStateValue(int32_t state);
    // Count and State to 0, no event.
    void Clear();
    // State + delta, held to 1..Count, then assigned (so the event is raised).
    void Move(double delta);

signals:
    void SetState(int32_t newState);

private:
    int32_t mCount = 0;
    int32_t mState = 0;
};

}  // namespace shell

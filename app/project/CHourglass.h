// The busy cursor, held for the length of an operation. Holds nest: the
// default pointer comes back and the main window is enabled again only when
// the last live holder goes.
#pragma once

#include <cstdint>

class CHourglass {
public:
    CHourglass();
    ~CHourglass();
    CHourglass(const CHourglass&) = delete;
    CHourglass& operator=(const CHourglass&) = delete;

    bool Value() const { return mValue; }
    // True disables the main window and shows PointerType; False enables it and
    // shows the default pointer.
    void SetValue(bool value);
    int16_t PointerType() const { return mPointerType; }
    void SetPointerType(int16_t pointer);

    // Live holders in the process.
    static int32_t BusyCount();

private:
    bool mValue = false;
    int16_t mPointerType = 11;
};

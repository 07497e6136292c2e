// The process-wide table behind the 32-bit device-context and window handles
// that hosts hand to the graph control. One table for the whole process: the
// program, the control and the tests all see the same handles.
#pragma once

#include <cstdint>

class QWidget;

namespace ui {

class DrawTarget;

class HandleTable {
public:
    // A new non-zero handle for the target or window (not owned; release the
    // handle before the object goes).
    static uint32_t AddTarget(DrawTarget* target);
    static uint32_t AddWindow(QWidget* window);
    static void Release(uint32_t handle);
    // Null for an unknown handle or one of the other kind.
    static DrawTarget* Target(uint32_t handle);
    static QWidget* Window(uint32_t handle);
};

// Registers for the life of the object.
class ScopedTargetHandle {
public:
    explicit ScopedTargetHandle(DrawTarget* target) : mHandle(HandleTable::AddTarget(target)) {}
    ~ScopedTargetHandle() { HandleTable::Release(mHandle); }
    ScopedTargetHandle(const ScopedTargetHandle&) = delete;
    ScopedTargetHandle& operator=(const ScopedTargetHandle&) = delete;
    uint32_t Handle() const { return mHandle; }

private:
    uint32_t mHandle;
};

}  // namespace ui

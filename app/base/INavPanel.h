// The one operation the shell asks of every step panel.
#pragma once

namespace base {

class INavPanel {
public:
    virtual ~INavPanel() = default;
    // True when the step's settings were modified since they were last set.
    virtual bool Changed() const = 0;
};

}  // namespace base

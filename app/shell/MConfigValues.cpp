#include "MConfigValues.h"

#include "AppErrors.h"
#include "CProject.h"
#include "MTessaryGlobals.h"

#include <QString>

#include <cmath>

namespace MConfigValues {

using MTessary::Project;

namespace {

double Parse(const std::string& text, bool* ok) { return QString::fromStdString(text).trimmed().toDouble(ok); }

}  // namespace

int32_t Long(const std::string& text) {
    bool ok = false;
    const double v = Parse(text, &ok);
    if (!ok) app::RaiseError(13);
    // 2147483647.5 rounds (to even) past the range.
    if (!(v >= -2147483648.5 && v < 2147483647.5)) app::RaiseError(6);
    return int32_t(std::nearbyint(v));
}

float Single(const std::string& text) {
    bool ok = false;
    const double v = Parse(text, &ok);
    if (!ok) app::RaiseError(13);
    return float(v);
}

double Number(const std::string& text) {
    bool ok = false;
    const double v = Parse(text, &ok);
    return ok ? v : 0.0;
}

int32_t ConfigLong(const std::string& property, const std::string& defaultValue) {
    return Long(Project().GetConfig(property, defaultValue));
}

float ConfigSingle(const std::string& property, const std::string& defaultValue) {
    return Single(Project().GetConfig(property, defaultValue));
}

double ConfigNumber(const std::string& property, const std::string& defaultValue) {
    return Number(Project().GetConfig(property, defaultValue));
}

}  // namespace MConfigValues

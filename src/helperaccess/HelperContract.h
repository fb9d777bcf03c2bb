#pragma once

#include <QLatin1StringView>

namespace fernpoint {

// Names under which the gateway helper serves on the system bus.
inline constexpr QLatin1StringView kFernPointHelperMachService{
    "com.lunacore.sdwan.fernpoint.helper"};
inline constexpr QLatin1StringView kFernPointHelperObjectPath{
    "/com/lunacore/sdwan/fernpoint/helper"};
inline constexpr QLatin1StringView kFernPointHelperInterface{"com.lunacore.sdwan.fernpoint.Helper"};

} // namespace fernpoint

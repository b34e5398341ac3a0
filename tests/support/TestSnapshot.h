#pragma once

#include "model/UsageSnapshot.h"

#include <string>

namespace korvo::test {

// A snapshot of `syncSpaceId` by `deviceId` with one provider row; `serial` varies ids and
// numbers.
UsageSnapshot testSnapshot(const std::string& syncSpaceId, int serial = 0,
                           const std::string& deviceId = "CONNECTOR-1");

} // namespace korvo::test

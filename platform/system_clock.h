#pragma once

#include "platform/clock.h"

namespace scrivane::platform {

class SystemClock : public Clock {
 public:
  LocalTime now() override;
};

}  // namespace scrivane::platform

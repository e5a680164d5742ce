// Where the registry's reception events go on Linux.
#pragma once

#include "registry.h"

#include <cstdint>

namespace canapi {

// Reception events are eventfd descriptors.
class EventFdSink final : public EventSink
{
public:
    bool isEvent(uint32_t handle) const override;
    void signal(uint32_t handle) override;
};

} // namespace canapi

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <utility>

#include "platform/AppleEvent.h"

namespace vxm::platform {

// Registers handlers with the shared NSAppleEventManager. Each handler is an
// Objective-C object that wraps the event and its reply as descriptors; the
// event manager does not retain handlers, so this object keeps them, one per
// class and identifier, for as long as it lives. Main thread only.
class MacAppleEventManager final : public AppleEventManager {
public:
    MacAppleEventManager();
    ~MacAppleEventManager() override;
    MacAppleEventManager(const MacAppleEventManager&) = delete;
    MacAppleEventManager& operator=(const MacAppleEventManager&) = delete;

    void setEventHandler(Handler handler, FourCharCode eventClass, FourCharCode eventID) override;

private:
    struct Handlers;
    std::unique_ptr<Handlers> handlers_;
};

}  // namespace vxm::platform

#include "platform/fake/FakeApplication.h"

#include <string>

namespace vxm::platform {

namespace {

std::string codeText(FourCharCode code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        text.push_back(static_cast<char>((code >> static_cast<unsigned>(shift)) & 0xFFU));
    }
    return text;
}

}  // namespace

void FakeApplication::run() {
    journal_.record("run");
    if (delegate_ != nullptr) {
        delegate_->applicationWillFinishLaunching();
        delegate_->applicationDidFinishLaunching();
    }
}

void FakeApplication::terminate() {
    ++terminateCount_;
    journal_.record("terminate");
}

void FakeAppleEventManager::setEventHandler(Handler handler, FourCharCode eventClass, FourCharCode eventID) {
    journal_.record("register " + codeText(eventClass) + " " + codeText(eventID));
    registrations_.push_back({std::move(handler), eventClass, eventID});
}

bool FakeAppleEventManager::deliver(FourCharCode eventClass, FourCharCode eventID, const AppleEventDescriptor& event,
                                    const AppleEventDescriptor& reply) const {
    for (auto it = registrations_.rbegin(); it != registrations_.rend(); ++it) {
        if (it->eventClass == eventClass && it->eventID == eventID) {
            it->handler(event, reply);
            return true;
        }
    }
    return false;
}

}  // namespace vxm::platform

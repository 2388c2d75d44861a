#pragma once

#include <vector>

#include "platform/AppleEvent.h"
#include "platform/Application.h"
#include "platform/fake/FakeJournal.h"

namespace vxm::platform {

// An application for tests. run() only tells the delegate that launching will
// finish and then that it did; the test drives the main queue itself.
// terminate() records "terminate" and returns.
class FakeApplication : public Application {
public:
    explicit FakeApplication(FakeJournal& journal) : journal_(journal) {}

    void setDelegate(ApplicationDelegate* delegate) override { delegate_ = delegate; }
    void run() override;
    void terminate() override;

    [[nodiscard]] ApplicationDelegate* delegate() const { return delegate_; }
    [[nodiscard]] int terminateCount() const { return terminateCount_; }

private:
    FakeJournal& journal_;
    ApplicationDelegate* delegate_ = nullptr;
    int terminateCount_ = 0;
};

// An Apple-event manager for tests: records each registration (as "register
// <class> <id>") and hands events the test delivers to the matching handler.
class FakeAppleEventManager : public AppleEventManager {
public:
    struct Registration {
        Handler handler;
        FourCharCode eventClass;
        FourCharCode eventID;
    };

    explicit FakeAppleEventManager(FakeJournal& journal) : journal_(journal) {}

    void setEventHandler(Handler handler, FourCharCode eventClass, FourCharCode eventID) override;

    // Calls the handler registered last for the class and identifier; false
    // when there is none.
    bool deliver(FourCharCode eventClass, FourCharCode eventID, const AppleEventDescriptor& event,
                 const AppleEventDescriptor& reply) const;

    [[nodiscard]] const std::vector<Registration>& registrations() const { return registrations_; }

private:
    FakeJournal& journal_;
    std::vector<Registration> registrations_;
};

}  // namespace vxm::platform

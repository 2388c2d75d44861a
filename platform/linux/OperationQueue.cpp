// SPDX-License-Identifier: Apache-2.0
#include "platform/linux/OperationQueue.h"

#include <optional>
#include <utility>

namespace vxm::platform {

OperationQueue::OperationQueue(MainQueue& queue, std::shared_ptr<StoreConnection> store)
    : queue_(queue), store_(std::move(store)) {}

void OperationQueue::enqueue(Operation operation) {
    const std::lock_guard lock(store_->mutex());
    pending_.push_back(std::move(operation));
    if (!flushQueued_) {
        flushQueued_ = true;
        queue_.async([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->flush();
            }
        });
    }
}

void OperationQueue::flush() {
    std::vector<Operation> batch;
    {
        const std::lock_guard lock(store_->mutex());
        batch.swap(pending_);
        flushQueued_ = false;
    }
    for (const Operation& operation : batch) {
        run(operation);
    }
}

// Runs the operation in a transaction of its own, then calls its completion
// with the store unlocked, as a completion may well use the store again.
void OperationQueue::run(const Operation& operation) {
    if (operation.finishAlone) {
        operation.finishAlone();
        return;
    }
    std::function<void()> finish;
    std::optional<Error> failure;
    {
        const std::lock_guard lock(store_->mutex());
        failure = store_->guard(operation.access, [&]() -> std::optional<Error> {
            Connection& connection = store_->openLocked();
            signalAfterCommit_ = false;
            forgetAfterCommit_ = false;
            sqlite::Transaction transaction(connection.db(), operation.access == Access::write
                                                                 ? sqlite::Transaction::Kind::write
                                                                 : sqlite::Transaction::Kind::read);
            finish = operation.work(connection);
            transaction.commit();
            if (signalAfterCommit_) {
                store_->signal().raise();
            }
            if (forgetAfterCommit_) {
                store_->forgetOldValuesLocked();
            }
            return std::nullopt;
        });
    }
    if (failure) {
        operation.fail(*failure);
        return;
    }
    finish();
}

}  // namespace vxm::platform

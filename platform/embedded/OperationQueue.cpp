// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/OperationQueue.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace vxm::platform {

OperationQueue::OperationQueue(MainQueue& queue, std::shared_ptr<StoreConnection> store)
    : queue_(queue), store_(std::move(store)) {}

void OperationQueue::enqueue(Operation operation) {
    const std::lock_guard lock(store_->mutex());
    enqueueLocked(std::move(operation), nullptr);
}

void OperationQueue::enqueueInSeries(const void* series, const std::function<void()>& append,
                                     const std::function<Operation()>& make) {
    const std::lock_guard lock(store_->mutex());
    if (series != lastSeries_ || pending_.empty()) {
        enqueueLocked(make(), series);
    }
    append();
}

void OperationQueue::enqueueLocked(Operation operation, const void* series) {
    lastSeries_ = series;
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

// Runs the batch, then calls the completions with the store unlocked, as a
// completion may well use the store again.
void OperationQueue::flush() {
    std::deque<Operation> batch;
    std::vector<std::function<void()>> finishes;
    std::optional<Error> failure;
    {
        const std::lock_guard lock(store_->mutex());
        batch.swap(pending_);
        flushQueued_ = false;
        finishes.resize(batch.size());
        const bool writes = std::any_of(batch.begin(), batch.end(),
                                        [](const Operation& operation) { return operation.access == Access::write; });
        failure = store_->guard(writes ? Access::write : Access::read, [&]() -> std::optional<Error> {
            runLocked(batch, finishes);
            return std::nullopt;
        });
    }
    for (std::size_t index = 0; index < batch.size(); ++index) {
        const Operation& operation = batch[index];
        if (failure && operation.needs != Needs::nothing) {
            operation.fail(*failure);
        } else {
            finishes[index]();
        }
    }
}

// One transaction for the batch, opened only when an operation needs the
// store; the store made only when one needs it made.
void OperationQueue::runLocked(const std::deque<Operation>& batch, std::vector<std::function<void()>>& finishes) {
    bool needed = false;
    bool creates = false;
    bool writes = false;
    for (std::size_t index = 0; index < batch.size(); ++index) {
        const Operation& operation = batch[index];
        if (operation.needs == Needs::nothing) {
            finishes[index] = operation.work(nullptr);
        }
        needed = needed || operation.needs != Needs::nothing;
        creates = creates || operation.needs == Needs::store;
        writes = writes || operation.access == Access::write;
    }
    Connection* connection = needed ? store_->openLocked(creates) : nullptr;
    if (connection == nullptr) {
        for (std::size_t index = 0; index < batch.size(); ++index) {
            if (batch[index].needs != Needs::nothing) {
                finishes[index] = batch[index].work(nullptr);
            }
        }
        return;
    }
    signalAfterCommit_ = false;
    eraseAfterCommit_ = false;
    sqlite::Transaction transaction(connection->db(),
                                    writes ? sqlite::Transaction::Kind::write : sqlite::Transaction::Kind::read);
    for (std::size_t index = 0; index < batch.size(); ++index) {
        const Operation& operation = batch[index];
        if (operation.needs == Needs::nothing) {
            continue;
        }
        if (operation.access == Access::read || operation.ownSavepoints) {
            finishes[index] = operation.work(connection);
            continue;
        }
        if (std::optional<Error> failed =
                store_->aloneLocked(*connection, [&] { finishes[index] = operation.work(connection); })) {
            finishes[index] = [&operation, failed = *std::move(failed)] { operation.fail(failed); };
        }
    }
    transaction.commit();
    if (signalAfterCommit_) {
        store_->signal().raise();
    }
    if (eraseAfterCommit_) {
        store_->erasePendingLocked();
    }
}

}  // namespace vxm::platform

#include "platform/linux/OperationQueue.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

namespace vxm::platform {

OperationQueue::OperationQueue(AsioMainQueue& queue, std::shared_ptr<StoreConnection> store)
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
    for (std::size_t begin = 0; begin < batch.size();) {
        std::size_t end = begin + 1;
        while (batch[begin].isRemoval && end < batch.size() && batch[end].isRemoval) {
            ++end;
        }
        runGroup(batch, begin, end);
        begin = end;
    }
}

// Runs batch[begin, end) in one transaction, then calls their completions
// with the store unlocked, as a completion may well use the store again.
void OperationQueue::runGroup(std::vector<Operation>& batch, std::size_t begin, std::size_t end) {
    const auto first = batch.begin() + static_cast<std::ptrdiff_t>(begin);
    const auto last = batch.begin() + static_cast<std::ptrdiff_t>(end);
    const Access access = std::any_of(first, last, [](const Operation& op) { return op.access == Access::write; })
                              ? Access::write
                              : Access::read;
    std::vector<std::function<void()>> finishes;
    std::optional<Error> failure;
    {
        const std::lock_guard lock(store_->mutex());
        failure = store_->guard(access, [&]() -> std::optional<Error> {
            Connection& connection = store_->openLocked();
            signalAfterCommit_ = false;
            sqlite::Transaction transaction(connection.db(), access == Access::write ? sqlite::Transaction::Kind::write
                                                                                     : sqlite::Transaction::Kind::read);
            for (auto operation = first; operation != last; ++operation) {
                finishes.push_back(operation->work(connection));
            }
            transaction.commit();
            if (signalAfterCommit_) {
                store_->signal().raise();
            }
            return std::nullopt;
        });
    }
    if (failure) {
        std::for_each(first, last, [&](const Operation& operation) { operation.fail(*failure); });
        return;
    }
    for (const std::function<void()>& finish : finishes) {
        finish();
    }
}

}  // namespace vxm::platform

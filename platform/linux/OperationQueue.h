// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/Error.h"
#include "platform/MainQueue.h"
#include "platform/linux/StoreConnection.h"

namespace vxm::platform {

// An operation waiting for the main-queue task that runs it.
struct Operation {
    Access access = Access::read;
    // Runs inside the transaction with the store locked. Returns what to do
    // once the transaction has committed: update the handle, call the completion.
    std::function<std::function<void()>(Connection&)> work;
    // Calls the completion with the error that stopped the transaction.
    std::function<void(const Error&)> fail;
    // Set instead of work and fail for an operation with nothing to do in
    // the store: calls its completion in its turn, with no transaction.
    std::function<void()> finishAlone;
};

// The store's operations with a completion. Each is queued; one main-queue
// task then runs what is queued in request order, each operation in a
// transaction of its own, and calls its completion once that transaction has
// committed (or failed), with the store unlocked: one operation that fails
// never undoes another. Safe from any thread.
class OperationQueue : public std::enable_shared_from_this<OperationQueue> {
public:
    OperationQueue(MainQueue& queue, std::shared_ptr<StoreConnection> store);

    void enqueue(Operation operation);

    // Raises the change signal once the transaction running now commits.
    // Called by an operation's work.
    void signalAfterCommitLocked() { signalAfterCommit_ = true; }

    // Rids the store's files of what the transaction running now deleted or
    // replaced, once it commits. Called by an operation's work.
    void forgetOldValuesAfterCommitLocked() { forgetAfterCommit_ = true; }

private:
    void flush();
    void run(const Operation& operation);

    MainQueue& queue_;
    const std::shared_ptr<StoreConnection> store_;
    // Guarded by the store's lock.
    std::vector<Operation> pending_;
    bool flushQueued_ = false;
    bool signalAfterCommit_ = false;
    bool forgetAfterCommit_ = false;
};

}  // namespace vxm::platform

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Error.h"
#include "platform/MainQueue.h"
#include "platform/embedded/StoreConnection.h"

namespace vxm::platform {

// What an operation needs of the store: nothing, a store that stands at the
// path (none there reads as an empty store, and none is made), or a store,
// made when none stands there.
enum class Needs { nothing, existingStore, store };

// An operation waiting for the main-queue task that runs it.
struct Operation {
    Access access = Access::read;
    Needs needs = Needs::existingStore;
    // Whether a writing operation runs its parts within savepoints of its
    // own, and so none around it: one that wraps thousands of changes would
    // make SQLite journal every page they touch.
    bool ownSavepoints = false;
    // Runs inside the transaction with the store locked, or with no
    // connection at all when the operation needs nothing or no store stands
    // at the path. Returns what to do once the transaction has committed:
    // update the handle, call the completion.
    std::function<std::function<void()>(Connection*)> work;
    // Calls the completion with the error that stopped the operation.
    std::function<void(const Error&)> fail;
};

// The store's operations with a completion. Each is queued; one main-queue
// task then runs what is queued in request order in one transaction, each
// writing operation within a savepoint of its own, so that one that fails
// undoes none of the others; then it calls the completions in request order
// with the store unlocked, once that transaction has committed (or failed).
// Safe from any thread.
class OperationQueue : public std::enable_shared_from_this<OperationQueue> {
public:
    OperationQueue(MainQueue& queue, std::shared_ptr<StoreConnection> store);

    void enqueue(Operation operation);

    // Lets requests of one kind share one operation: when the operation
    // queued last still waits and came from the same `series`, runs `append`
    // (to add the request to it) with the store locked; otherwise first
    // queues the operation `make` returns. A removal of thousands then
    // queues one operation, not thousands.
    void enqueueInSeries(const void* series, const std::function<void()>& append,
                         const std::function<Operation()>& make);

    // Raises the change signal once the transaction running now commits.
    // Called by an operation's work.
    void signalAfterCommitLocked() { signalAfterCommit_ = true; }

    // Rids the store's files of what the operation running now deleted or
    // replaced, once the transaction commits. Called by an operation's work.
    void eraseAfterCommitLocked(Connection& connection) {
        StoreConnection::requestErasureLocked(connection);
        eraseAfterCommit_ = true;
    }

private:
    void enqueueLocked(Operation operation, const void* series);
    void flush();
    void runLocked(const std::deque<Operation>& batch, std::vector<std::function<void()>>& finishes);

    MainQueue& queue_;
    const std::shared_ptr<StoreConnection> store_;
    // Guarded by the store's lock.
    // A deque, which grows without moving what it holds: a removal of
    // thousands of configurations queues as many operations.
    std::deque<Operation> pending_;
    bool flushQueued_ = false;
    // The series of the operation queued last, if any.
    const void* lastSeries_ = nullptr;
    bool signalAfterCommit_ = false;
    bool eraseAfterCommit_ = false;
};

}  // namespace vxm::platform

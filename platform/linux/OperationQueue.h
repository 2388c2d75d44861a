#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/Error.h"
#include "platform/linux/AsioMainQueue.h"
#include "platform/linux/StoreConnection.h"

namespace vxm::platform {

// An operation waiting for the main-queue task that runs it.
struct Operation {
    Access access = Access::read;
    // Set for an operation that makes no store: when no file stands at the
    // path, it calls this in its turn instead of `work`, as for an empty store.
    std::function<void()> ifNoStore;
    // Runs inside the transaction with the store locked. Returns what to do
    // once the transaction has committed: update the handle, call the completion.
    std::function<std::function<void()>(Connection&)> work;
    // Calls the completion with the error that stopped the operation.
    std::function<void(const Error&)> fail;
    // Set instead of work and fail for an operation with nothing to do in
    // the store: calls its completion in its turn, with no transaction.
    std::function<void()> finishAlone;
};

// The store's operations with a completion. Each is queued; one main-queue
// task then runs what is queued in request order in one transaction, each
// writing operation within a savepoint of its own, so that one that fails
// undoes none of the others; then it calls the completions in request order
// with the store unlocked, once that transaction has committed (or failed).
// Safe from any thread.
class OperationQueue : public std::enable_shared_from_this<OperationQueue> {
public:
    OperationQueue(AsioMainQueue& queue, std::shared_ptr<StoreConnection> store);

    void enqueue(Operation operation);

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
    void flush();
    void runLocked(const std::vector<Operation>& batch, std::vector<std::function<void()>>& finishes);

    AsioMainQueue& queue_;
    const std::shared_ptr<StoreConnection> store_;
    // Guarded by the store's lock.
    std::vector<Operation> pending_;
    bool flushQueued_ = false;
    bool signalAfterCommit_ = false;
    bool eraseAfterCommit_ = false;
};

}  // namespace vxm::platform

// SPDX-License-Identifier: Apache-2.0
#include "platform/linux/AsioMainQueue.h"

#include <memory>
#include <utility>

#include <asio.hpp>

namespace vxm::platform {

struct AsioMainQueue::Impl {
    asio::io_context context{1};
    // Keeps run() from returning when nothing is queued: work may arrive from
    // another thread, a timer or a watched descriptor at any time.
    asio::executor_work_guard<asio::io_context::executor_type> guard = asio::make_work_guard(context);
};

namespace {

// The shared state of one watch: the callbacks that are still in flight hold
// it, so it outlives the Watch object that cancelled it.
struct WatchState : std::enable_shared_from_this<WatchState> {
    WatchState(asio::io_context& context, int fd, std::function<void()> onReadable)
        : descriptor(context, fd), onReadable(std::move(onReadable)) {}

    void arm() {
        descriptor.async_wait(asio::posix::stream_descriptor::wait_read,
                              [self = shared_from_this()](const asio::error_code& error) {
                                  if (error || self->cancelled) {
                                      return;
                                  }
                                  self->onReadable();
                                  if (!self->cancelled) {
                                      self->arm();
                                  }
                              });
    }

    void armWrite(std::function<void()> onWritable) {
        descriptor.async_wait(asio::posix::stream_descriptor::wait_write,
                              [self = shared_from_this(), onWritable = std::move(onWritable)](const asio::error_code& error) {
                                  if (!error && !self->cancelled) {
                                      onWritable();
                                  }
                              });
    }

    asio::posix::stream_descriptor descriptor;
    std::function<void()> onReadable;
    bool cancelled = false;
};

class AsioWatch final : public MainQueue::Watch {
public:
    explicit AsioWatch(std::shared_ptr<WatchState> state) : state_(std::move(state)) {}

    ~AsioWatch() override {
        state_->cancelled = true;
        // Gives the descriptor back without closing it: its owner closes it.
        asio::error_code ignored;
        state_->descriptor.cancel(ignored);
        state_->descriptor.release();
    }

    AsioWatch(const AsioWatch&) = delete;
    AsioWatch& operator=(const AsioWatch&) = delete;

    void onceWritable(std::function<void()> onWritable) override { state_->armWrite(std::move(onWritable)); }

private:
    std::shared_ptr<WatchState> state_;
};

}  // namespace

AsioMainQueue::AsioMainQueue() : impl_(std::make_unique<Impl>()) {
    // Asio makes the descriptors behind timers and watches (epoll, an eventfd
    // and a timerfd) at the first timer or watch. Made now, running out of
    // descriptors fails here, where the caller can still answer, rather than
    // inside a later asyncAfter or watchReadable, which must not fail.
    const asio::steady_timer makesTheReactor(impl_->context);
}

AsioMainQueue::~AsioMainQueue() = default;

void AsioMainQueue::async(Work work) { asio::post(impl_->context, std::move(work)); }

void AsioMainQueue::asyncAfter(std::chrono::milliseconds delay, Work work) {
    auto timer = std::make_shared<asio::steady_timer>(impl_->context, delay);
    timer->async_wait([timer, work = std::move(work)](const asio::error_code& error) {
        if (!error) {
            work();
        }
    });
}

void AsioMainQueue::run() { impl_->context.run(); }

void AsioMainQueue::stop() { impl_->context.stop(); }

std::unique_ptr<MainQueue::Watch> AsioMainQueue::watchReadable(int fd, std::function<void()> onReadable) {
    auto state = std::make_shared<WatchState>(impl_->context, fd, std::move(onReadable));
    state->arm();
    return std::make_unique<AsioWatch>(std::move(state));
}

}  // namespace vxm::platform

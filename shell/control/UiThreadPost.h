#pragma once

// Hands work to the user-interface thread without waiting for it: a worker
// never blocks on that thread, since shutdown joins the workers there. Once
// Close() has been called, work handed over later is dropped, and work still
// queued does nothing when its turn comes.

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

class UiThreadPost {
public:
    // receiver lives on the user-interface thread and outlives every worker
    // that posts through this object.
    explicit UiThreadPost(QObject* receiver);

    // Any thread; returns at once.
    void Post(std::function<void()> work) const;

    // The user-interface thread, when shutdown begins.
    void Close() { closed_->store(true); }
    bool Closed() const { return closed_->load(); }

private:
    QObject* const receiver_;
    const std::shared_ptr<std::atomic<bool>> closed_ = std::make_shared<std::atomic<bool>>(false);
};

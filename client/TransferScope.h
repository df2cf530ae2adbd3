#pragma once

// One running transfer's place in RequestObject: registers the transfer key
// (and so a fresh cancel flag of its own) for the lifetime of the scope and
// removes it on every exit. An empty key registers nothing; the flag is then
// one nobody else can raise.

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class TransferScope {
public:
    explicit TransferScope(const QString& key);
    ~TransferScope();
    TransferScope(const TransferScope&) = delete;
    TransferScope& operator=(const TransferScope&) = delete;

    const std::atomic<bool>* CancelFlag() const { return flag_.get(); }
    bool Cancelled() const { return flag_->load(); }

    // The progress callback of a transfer's request: PeltaAPI::OnTransferWork
    // with this scope's flag and the bytes moved in both directions.
    std::function<bool(std::int64_t received, std::int64_t sent)> Progress() const;

private:
    QString key_;
    std::shared_ptr<std::atomic<bool>> flag_;
};

#include "client/TransferScope.h"

#include "client/PeltaAPI.h"
#include "foundation/PeltaRequestObject.h"

TransferScope::TransferScope(const QString& key) : key_(key)
{
    flag_ = key_.isEmpty() ? std::make_shared<std::atomic<bool>>(false) : RequestObject.RegisterTransfer(key_);
}

TransferScope::~TransferScope()
{
    if (!key_.isEmpty())
        RequestObject.RemoveTransfer(key_);
}

std::function<bool(std::int64_t, std::int64_t)> TransferScope::Progress() const
{
    std::shared_ptr<std::atomic<bool>> flag = flag_;
    return [flag](std::int64_t received, std::int64_t sent) {
        return PeltaAPI::OnTransferWork(flag.get(), received + sent);
    };
}

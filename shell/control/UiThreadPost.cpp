#include "shell/control/UiThreadPost.h"

#include <QMetaObject>

UiThreadPost::UiThreadPost(QObject* receiver) : receiver_(receiver)
{
}

void UiThreadPost::Post(std::function<void()> work) const
{
    if (closed_->load())
        return;
    QMetaObject::invokeMethod(
        receiver_,
        [closed = closed_, work = std::move(work)] {
            if (!closed->load())
                work();
        },
        Qt::QueuedConnection);
}

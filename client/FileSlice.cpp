#include "client/FileSlice.h"

#include <algorithm>

FileSlice::FileSlice(QFile& file, std::int64_t offset, std::int64_t length)
    : length_(length), state_(std::make_shared<State>())
{
    state_->file = &file;
    state_->next = offset;
    state_->left = length;
}

std::function<std::size_t(char*, std::size_t)> FileSlice::Source()
{
    std::shared_ptr<State> state = state_;
    return [state](char* buffer, std::size_t size) { return Read(*state, buffer, size); };
}

std::size_t FileSlice::Read(State& state, char* buffer, std::size_t size)
{
    if (state.left <= 0)
        return 0;
    const auto wanted = static_cast<qint64>(std::min<std::int64_t>(state.left, static_cast<std::int64_t>(size)));
    if (state.file->pos() != state.next && !state.file->seek(state.next)) {
        state.failed = true;
        return HttpFormPart::AbortRead;
    }
    const qint64 got = state.file->read(buffer, wanted);
    if (got <= 0) {  // the file ended early or could not be read
        state.failed = true;
        return HttpFormPart::AbortRead;
    }
    state.next += got;
    state.left -= got;
    return static_cast<std::size_t>(got);
}

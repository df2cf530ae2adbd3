#pragma once

// A body source over `length` bytes of an open file from `offset`, read
// straight into the HTTP library's buffer, so a slice of any length costs
// one buffer of memory. A file that ends early or fails to read aborts the
// request and leaves Failed() set, so a changed file is never sent short.

#include "client/HttpClient.h"

#include <QFile>

#include <cstdint>
#include <functional>
#include <memory>

class FileSlice {
public:
    FileSlice(QFile& file, std::int64_t offset, std::int64_t length);

    // The source function for HttpRequest::bodySource or HttpFormPart::source.
    // It shares this slice's state; the file must outlive the request.
    std::function<std::size_t(char* buffer, std::size_t size)> Source();

    std::int64_t Length() const { return length_; }
    bool Failed() const { return state_->failed; }

private:
    struct State {
        QFile* file = nullptr;
        std::int64_t next = 0;
        std::int64_t left = 0;
        bool failed = false;
    };
    static std::size_t Read(State& state, char* buffer, std::size_t size);

    std::int64_t length_;
    std::shared_ptr<State> state_;
};

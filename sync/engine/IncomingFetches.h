#pragma once

// The files whose content the engine is fetching from the service right now
// without a download row (a replayed add or edit fetched at once). Until the
// fetch ends, either with the file in place or with a download row queued,
// nothing else tells that the service's content is on its way: a folder
// removed here meanwhile must neither drop such a file's record nor have
// its deletion reach the service, which would take the file with it there.
//
// A fetch registers its path with a Scope before it writes the record and
// keeps it until a row stands for it; so a reader that checks here first
// and for download rows second never misses a fetch in between. The
// engine's threads each have their own engine object, so the set is
// process-wide. Any thread.

#include <QString>

class IncomingFetches {
public:
    class Scope {
    public:
        explicit Scope(const QString& path);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        QString path_;
    };

    static bool Has(const QString& path);
    // A fetch below folder (not folder itself).
    static bool AnyBelow(const QString& folder);
};

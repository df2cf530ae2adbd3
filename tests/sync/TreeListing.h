#pragma once

// The items of a sync folder and of the fake service's tree as sorted lines
// that tests compare: "\path" plus a folder mark for a folder, "\path|content"
// for a file, followed by "|mtime" when times are asked for. The folder's
// cache folder, the service's root and its recycled items are left out.

#include "fakeservice/FakeState.h"

#include <QChar>
#include <QString>
#include <QStringList>

class TreeListing {
public:
    struct Form {
        QChar folderMark;  // after a folder's path
        bool withTimes = false;
    };

    // "\a\b" to "/a/b" and back.
    static QString ServicePathOf(const QString& relative);
    static QString RelativeOf(const QString& servicePath);

    static QStringList Local(const QString& root, Form form);
    static QStringList Service(const FakeState& state, const QString& userId, Form form);
};

#pragma once

// What each side wrote during a run, and what it knowingly replaced or
// deleted afterwards. A content that was written and never knowingly given
// up must exist somewhere in the final tree: at its path or in a conflict
// copy. Contents are unique per run, so a content identifies its write.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>
#include <set>

class ContentLedger {
public:
    // side: "local" or "remote"; where: the service path it was written to.
    void Wrote(const QByteArray& content, const QString& side, int step, const QString& where);
    // The side replaced or deleted this content while it saw it.
    void GaveUp(const QByteArray& content);

    // The writes whose content is in none of the final contents, each as
    // "path (side, step N)".
    QStringList Lost(const std::set<QByteArray>& finalContents) const;

private:
    struct Write {
        QString side;
        int step = 0;
        QString where;
    };
    std::map<QByteArray, Write> written_;
    std::set<QByteArray> givenUp_;
};

#include "tests/convergence/ContentLedger.h"

void ContentLedger::Wrote(const QByteArray& content, const QString& side, int step, const QString& where)
{
    written_[content] = Write{side, step, where};
}

void ContentLedger::GaveUp(const QByteArray& content)
{
    givenUp_.insert(content);
}

QStringList ContentLedger::Lost(const std::set<QByteArray>& finalContents) const
{
    QStringList lost;
    for (const auto& [content, write] : written_) {
        if (givenUp_.count(content) || finalContents.count(content))
            continue;
        lost << QStringLiteral("%1 (%2, step %3)").arg(write.where, write.side).arg(write.step);
    }
    return lost;
}

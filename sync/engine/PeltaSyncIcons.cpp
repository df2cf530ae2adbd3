// PeltaSync: overlay markers and the shell's change notices.

#include "sync/engine/PeltaSync.h"

#include "sync/engine/ShellNotice.h"

namespace {

// A folder text ("\Docs\" or "\") without its trailing "\": "\Docs" or "".
QString WithoutTrailingSeparator(const QString& dir)
{
    return dir.endsWith(QLatin1Char('\\')) ? dir.chopped(1) : dir;
}

}  // namespace

void PeltaSync::SetIcon(const QString& path, int state)
{
    const QString p = path.isEmpty() ? QStringLiteral("\\") : path;
    Log(QStringLiteral("evtIcon:SetIcon:") + p + QStringLiteral(", ") + XICOName(state), LogIcon);
    markers_.Set(p, state);
    ShellNotice::ItemUpdated(p);
}

void PeltaSync::RefreshAllIcons()
{
    ShellNotice::AllChanged();
}

void PeltaSync::SetParentIcon(const QString& path, ParentCounter& counter)
{
    const QString dir = path.left(path.lastIndexOf(QLatin1Char('\\')) + 1);
    int& count = counter[dir];
    if (count > 0) {
        ++count;
        Log(QStringLiteral("evtIcon:SetParentIcon:") + path + QLatin1Char('(') + QString::number(count) +
                QLatin1Char(')'),
            LogIcon);
        return;
    }
    count = 1;
    Log(QStringLiteral("evtIcon:SetParentIcon:") + path + QStringLiteral("(1)"), LogIcon);
    SetIcon(WithoutTrailingSeparator(dir), XICOResync);
}

void PeltaSync::RefreshParentIcons(ParentCounter& counter)
{
    for (const auto& [dir, count] : counter) {
        if (count <= 0)
            continue;
        const QString folder = WithoutTrailingSeparator(dir);
        SetIcon(folder, XICOSync);
        ShellNotice::ItemUpdated(folder);
    }
    counter.clear();
}

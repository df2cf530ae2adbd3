#include "shell/entry/LogView.h"

#include "foundation/log/PeltaLog.h"

void LogView::ShowBalloon(const QString& title, const QString& text)
{
    AppLog.Write(QStringLiteral("Balloon: ") + title + QStringLiteral(": ") + text, LogGeneral);
}

void LogView::ShowMessage(const QString& title, const QString& text)
{
    AppLog.Write(QStringLiteral("Message: ") + title + QStringLiteral(": ") + text, LogGeneral);
}

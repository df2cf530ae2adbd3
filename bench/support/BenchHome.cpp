#include "bench/support/BenchHome.h"

#include "foundation/ProcessState.h"

#include <QDir>

BenchHome::BenchHome()
{
    if (!dir_.isValid())
        return;
    qputenv("TESSARON_HOME", FilePath(QStringLiteral("data")).toUtf8());
    qputenv("HOME", FilePath(QStringLiteral("home")).toUtf8());
    qputenv("XDG_CONFIG_HOME", FilePath(QStringLiteral("config")).toUtf8());
    QDir().mkpath(FilePath(QStringLiteral("home")));
    InitProcessState();
}

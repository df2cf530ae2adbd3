#pragma once

#include <QString>
#include <QStringList>

#include <mutex>

// The 32 agent settings in memory. A stored empty value stands for the
// table's default. Every Get and Set is atomic with respect to the others,
// since one store is shared by every thread.
class PeltaSyncAgentSetting {
public:
    PeltaSyncAgentSetting();

    // Names compare without regard to case; an unknown name gives "".
    QString Get(const QString& name) const;
    // An unknown name is ignored; "" restores the default.
    void Set(const QString& name, const QString& value);

    // True for the rows kept under the program's registry key (exact name).
    static bool IsRegistrySetting(const QString& name);

    const QStringList& Names() const { return names_; }

private:
    qsizetype IndexOf(const QString& name) const;

    QStringList names_;
    QStringList values_;
    mutable std::mutex mutex_;
};

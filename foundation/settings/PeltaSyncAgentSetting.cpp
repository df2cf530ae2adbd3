#include "foundation/settings/PeltaSyncAgentSetting.h"

#include "foundation/Constants.h"

namespace {
const AgentSettingRow* FindRow(const QString& name, Qt::CaseSensitivity cs)
{
    for (const AgentSettingRow& row : AgentSettingTable)
        if (name.compare(QLatin1String(row.name), cs) == 0)
            return &row;
    return nullptr;
}
}  // namespace

PeltaSyncAgentSetting::PeltaSyncAgentSetting()
{
    for (const AgentSettingRow& row : AgentSettingTable) {
        const QString defaultValue = QString::fromLatin1(row.defaultValue);
        const bool startsEmpty = defaultValue == QLatin1String("0") || defaultValue == QLatin1String(" ");
        names_.append(QString::fromLatin1(row.name));
        values_.append(startsEmpty ? QString() : defaultValue);
    }
}

qsizetype PeltaSyncAgentSetting::IndexOf(const QString& name) const
{
    for (qsizetype i = 0; i < names_.size(); ++i)
        if (names_[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QString PeltaSyncAgentSetting::Get(const QString& name) const
{
    const qsizetype index = IndexOf(name);
    if (index < 0)
        return {};
    std::lock_guard lock(mutex_);
    if (!values_[index].isEmpty())
        return values_[index];
    return QString::fromLatin1(AgentSettingTable[static_cast<std::size_t>(index)].defaultValue);
}

void PeltaSyncAgentSetting::Set(const QString& name, const QString& value)
{
    const qsizetype index = IndexOf(name);
    if (index < 0)
        return;
    std::lock_guard lock(mutex_);
    values_[index] = value;
}

bool PeltaSyncAgentSetting::IsRegistrySetting(const QString& name)
{
    const AgentSettingRow* row = FindRow(name, Qt::CaseSensitive);
    return row != nullptr && QLatin1String(row->registryFlag) == QLatin1String("1");
}

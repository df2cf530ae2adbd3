#include "fakeservice/FormFields.h"

void FormFields::Add(QString name, QString value)
{
    fields_.emplace_back(std::move(name), std::move(value));
}

bool FormFields::Has(const QString& name) const
{
    for (const auto& field : fields_) {
        if (field.first == name)
            return true;
    }
    return false;
}

QString FormFields::Value(const QString& name) const
{
    for (const auto& field : fields_) {
        if (field.first == name)
            return field.second;
    }
    return QString();
}

QString FormFields::FirstMissing(std::initializer_list<const char*> names) const
{
    for (const char* name : names) {
        if (!Has(QLatin1String(name)))
            return QLatin1String(name);
    }
    return QString();
}

QString FormFields::NameAt(std::size_t index) const
{
    return index < fields_.size() ? fields_[index].first : QString();
}

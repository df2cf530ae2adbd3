#pragma once

// The fields of a decoded form body, in the order they arrived.

#include <QString>

#include <initializer_list>
#include <utility>
#include <vector>

class FormFields {
public:
    void Add(QString name, QString value);

    bool Has(const QString& name) const;

    // The value of the first field of that name; empty when there is none.
    QString Value(const QString& name) const;

    // The first of the names that no field has; empty when all are there.
    QString FirstMissing(std::initializer_list<const char*> names) const;

    // The name of the field at the position; empty past the end.
    QString NameAt(std::size_t index) const;

    std::size_t Size() const { return fields_.size(); }

private:
    std::vector<std::pair<QString, QString>> fields_;
};

#pragma once

// The caption of the quota menu items: the share of the quota in use and
// the quota's size, in MB up to 1024 MB and in GB above.

#include <QString>

class QuotaCaption {
public:
    // total and used in MB.
    static QString Text(double total, double used);
};

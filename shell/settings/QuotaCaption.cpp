#include "shell/settings/QuotaCaption.h"

#include "foundation/text/TextFormat.h"
#include "foundation/text/Xi18n.h"

QString QuotaCaption::Text(double total, double used)
{
    QString unit = QStringLiteral("MB");
    double shown = total;
    if (shown > 1024) {
        shown /= 1024;
        unit = QStringLiteral("GB");
    }
    const double percent = total > 0 ? used / total * 100 : 0.0;
    return FormatText(Xi18n::Text(XText::_QuotaUsedReport), {percent, shown, unit});
}

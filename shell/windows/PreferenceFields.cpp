#include "shell/windows/PreferenceFields.h"

#include "foundation/text/Xi18n.h"

namespace {

// A whole decimal number: digits only, after an optional "+"; no sign "-", no
// spaces inside, no other base.
std::optional<std::int64_t> WholeNumber(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    for (qsizetype i = 0; i < trimmed.size(); ++i) {
        if (!trimmed[i].isDigit() && !(i == 0 && trimmed[i] == u'+' && trimmed.size() > 1))
            return std::nullopt;
    }
    bool ok = false;
    const qlonglong value = trimmed.toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<std::int64_t> PreferenceFields::Bandwidth(const QString& text)
{
    const auto value = WholeNumber(text);
    if (!value || *value > MaxBandwidth)
        return std::nullopt;
    return value;
}

std::optional<int> PreferenceFields::ProxyPort(const QString& text)
{
    const auto value = WholeNumber(text);
    if (!value || *value < 1 || *value > MaxPort)
        return std::nullopt;
    return static_cast<int>(*value);
}

PreferenceFields::Outcome PreferenceFields::Check(const Input& input)
{
    Outcome outcome;
    const auto upload = Bandwidth(input.upload);
    const auto download = Bandwidth(input.download);
    if (!upload || !download) {
        outcome.tab = BandwidthTab;
        outcome.message = Xi18n::Text(XText::_ML0610);
        return outcome;
    }
    outcome.values.upload = *upload;
    outcome.values.download = *download;
    outcome.values.proxyServer = input.proxyServer.trimmed();
    outcome.values.proxyGiven = !outcome.values.proxyServer.isEmpty();
    if (outcome.values.proxyGiven) {
        const auto port = ProxyPort(input.proxyPort);
        if (!port) {
            outcome.tab = ProxyTab;
            outcome.message = Xi18n::Text(XText::_ML0613);
            return outcome;
        }
        outcome.values.proxyPort = *port;
    }
    outcome.valid = true;
    return outcome;
}

#pragma once

// Hides secrets in texts bound for the log: access keys and their checksums,
// sync-journal checksums, signed-API signatures and auth tokens, passwords
// and login tokens. A secret's value is replaced by "***"; names and
// everything else stay, so a masked line still shows what was sent.
//
// No state, no locks: any thread may call these.

#include <QByteArray>
#include <QString>

namespace SecretMask {

inline const QString Mask = QStringLiteral("***");

// True for a field, query or JSON name whose value is a secret (compared
// without regard to case).
bool IsSecretName(const QString& name);

// "name=value&name=value": the values of secret names masked.
QString MaskFields(const QString& text);

// A URL with the values of secret names in its query masked.
QString MaskUrl(const QString& url);

// JSON text (or a reply that holds some): every string or number value of a
// secret name masked, and the whole "access_key_arr" object of a login reply.
QString MaskJson(const QString& text);

// One HTTP header line; the value of credential and cookie headers masked.
QByteArray MaskHeader(const QByteArray& line);

}  // namespace SecretMask

#pragma once

// The cipher for secrets kept in the settings (the account password) and for
// the agent interface's method paths compiled into the program: AES under a
// passphrase fixed in the program, carried as Base64.

#include <QString>

#include <optional>

// 24 decimal digits. Changing it makes every stored secret unreadable.
extern const char StoredSecretPassphrase[];

// Base64 of the AES encryption of the text's UTF-8 under StoredSecretPassphrase.
QString EncryptStoredText(const QString& text);

// Reverses EncryptStoredText. Missing "=" padding is restored first (a
// length of 3 modulo 4 gets "=", 2 gets "==", 1 gets "=", which cannot be
// valid). Gives std::nullopt when the text is not Base64, does not decrypt
// under the passphrase, or its plaintext is not valid UTF-8 (which catches
// most of the wrong-passphrase cases that happen to end in valid padding).
std::optional<QString> DecryptStoredText(const QString& text);

#pragma once

// Random tokens of the fake service: keys, tokens, session ids.

#include <QString>

namespace RandomText {

// Lower-case hex digits of the given number of random bytes.
QString Hex(int bytes);

}  // namespace RandomText

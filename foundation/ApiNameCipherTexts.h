#pragma once

// The agent interface's method paths, enciphered with the stored-secret
// cipher (Base64 without its "=" padding), and the keys they are filed under
// in ApiMethodMap, in the same order. DecryptStoredText gives the path back.

#include <array>

extern const std::array<const char*, 14> ApiMethodKeys;
extern const std::array<const char*, 14> ApiNameCipherTexts;

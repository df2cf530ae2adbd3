#pragma once

// The agent interface's method paths in plain form, in the order of
// ApiMethodKeys. The program carries them only enciphered
// (foundation/ApiNameCipherTexts); tests and the fake service use this table.
//
// Every path but putFile's is a format text taking (user_id as %s, Unix time
// as %d). putFile's takes user_id alone and is followed directly by
// "<action>&<access key>&<checksum>&<journal key>&<journal checksum>".
// The agreement is a web page under the web home and takes no arguments.
// The login path must stay within 15 bytes of UTF-8, every other path within
// 16 to 31 bytes, so that the enciphered texts keep their lengths.

#include <array>

struct ApiMethodPath {
    const char* key;
    const char* path;
};

extern const std::array<ApiMethodPath, 14> ApiMethodPlainTable;

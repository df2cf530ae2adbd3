#pragma once

// Two changes to a request that the HTTP library has already read but not
// yet finished with, where its own handling would hide what the fake
// service must see or answer itself. The library hands its handlers the
// request as const, though the object it owns is not const; the changes are
// made through that reference and only before the library reads the fields
// again.

#include <string>

namespace httplib {
struct Request;
}  // namespace httplib

namespace RequestTweaks {

// Makes the library pass a multipart body to a content reader as plain
// bytes instead of parsing it (its parser drops the part headers, among
// them Content-Transfer-Encoding). Returns the Content-Type as it arrived.
// Call before reading the body.
std::string TakeBodyAsPlainBytes(const httplib::Request& request);

// Keeps the library from answering a Range on its own after the handler:
// the download host answers ranges (and refuses to) itself.
void ForgetRanges(const httplib::Request& request);

}  // namespace RequestTweaks

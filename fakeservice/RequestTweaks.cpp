#include "fakeservice/RequestTweaks.h"

#include <httplib.h>

namespace RequestTweaks {

std::string TakeBodyAsPlainBytes(const httplib::Request& request)
{
    const std::string contentType = request.get_header_value("Content-Type");
    auto& owned = const_cast<httplib::Request&>(request);
    owned.headers.erase("Content-Type");
    owned.headers.emplace("Content-Type", "application/octet-stream");
    return contentType;
}

void ForgetRanges(const httplib::Request& request)
{
    const_cast<httplib::Request&>(request).ranges.clear();
}

}  // namespace RequestTweaks

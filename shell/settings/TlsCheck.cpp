#include "shell/settings/TlsCheck.h"

#include <curl/curl.h>

bool TlsCheck::Available()
{
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info != nullptr && (info->features & CURL_VERSION_SSL) != 0;
}

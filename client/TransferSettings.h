#pragma once

// The HTTP client settings of the transfers, one function per kind. Every
// kind carries the bandwidth limits of the moment (UploadBitRate and
// DownloadBitRate, bits per second, 0 unlimited) in bytes per second.

#include "client/HttpClient.h"

namespace TransferSettings {

// The multipart uploads: the transfer headers, no time-outs of their own.
HttpSettings MultipartUpload();
// The chunked PUT: as the uploads, connect time-out 5000 ms.
HttpSettings ChunkedPut();
// The empty PUT of the size query: no limits.
HttpSettings EmptyPut();
// The downloads: HTTP 1.0 with the connection kept, connect time-out
// 5000 ms and the read time-out.
HttpSettings Download(std::chrono::milliseconds readTimeout);

}  // namespace TransferSettings

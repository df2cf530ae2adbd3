#include "fakeservice/ApiMethodTable.h"

const std::array<ApiMethodPath, 14> ApiMethodPlainTable = {{
    {"APIlogin", "/auth?u=%s&t=%d"},
    {"APIsetAgentInfo", "/v1/setAgentInfo?u=%s&t=%d"},
    {"APIgetAgentInfo", "/v1/getAgentInfo?u=%s&t=%d"},
    {"APIgetMetadata", "/v1/getMetadata?u=%s&t=%d"},
    {"APIsetSyncJournal", "/v1/setSyncJournal?u=%s&t=%d"},
    {"APIcommitSyncJournal", "/v1/commitSyncJournal?u=%s&t=%d"},
    {"APIgetSyncJournal", "/v1/getSyncJournal?u=%s&t=%d"},
    {"APIpostFile", "/v1/postFile?u=%s&t=%d"},
    {"APIpostFile2", "/v1/postFile2?u=%s&t=%d"},
    {"APIgetFile", "/v1/getFile?u=%s&t=%d"},
    {"APIgetFileCheck", "/v1/getFileCheck?u=%s&t=%d"},
    {"APIagreement", "/terms/agreement.html"},
    {"APIputFile", "/v1/putFile?u=%s&"},
    {"APIchangeAccessKey", "/v1/changeAccessKey?u=%s&t=%d"},
}};

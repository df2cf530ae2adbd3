#include "sync/monitor/MonitorNotice.h"

MonitorNotice::~MonitorNotice() = default;

// The process-wide provider message list and the text-out callback through
// which providers fill it.
#pragma once

#include "core/message_list.h"
#include "oskelsccih/scc_api.h"

namespace oskel::messages {

extern "C" SCCLONG SCC_CALL textOutCallback(const char *text, SCCLONG type);

} // namespace oskel::messages

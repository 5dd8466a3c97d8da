// The provider host protocol lives with the provider calls in core/; this name
// stays for the programs and tests built on it.
#pragma once

#include "core/host_protocol.h"

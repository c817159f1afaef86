// The free loopback port of tools/self_host/free_port.h, under the tests' namespace.
#pragma once

#include "tools/self_host/free_port.h"

namespace velmora::test {

using self_host::FreeLoopbackPort;

}  // namespace velmora::test

// The whole public interface of the torvane SDK.
#pragma once

#include "torvane/checksum.h"
#include "torvane/environment.h"
#include "torvane/motor_limits.h"
#include "torvane/packing.h"
#include "torvane/records.h"
#include "torvane/safety.h"
#include "torvane/transport_state.h"
#include "torvane/udp.h"

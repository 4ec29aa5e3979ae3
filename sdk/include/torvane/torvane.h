// The whole public interface of the torvane SDK.
#pragma once

#include "torvane/checksum.h"
#include "torvane/environment.h"
#include "torvane/flight_recorder.h"
#include "torvane/link_monitor.h"
#include "torvane/motor_limits.h"
#include "torvane/packing.h"
#include "torvane/periodic_loop.h"
#include "torvane/records.h"
#include "torvane/safety.h"
#include "torvane/transport_state.h"
#include "torvane/udp.h"

#include "torvane/transport_state.h"

#include "torvane/udp.h"
#include "torvane_testing/transport_reset.h"

#include <sys/select.h>
#include <sys/time.h>

namespace TORVANE {

TransportState transportState;

fd_set fdOverTime;
fd_set fdClearBuf;
timeval timeout{};
timeval bufferClear{};

namespace detail {
void ResetTransportState() {
  transportState = TransportState{};
}
}  // namespace detail

}  // namespace TORVANE

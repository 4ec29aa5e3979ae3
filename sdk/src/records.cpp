#include "torvane/records.h"

namespace TORVANE {

std::array<uint8_t, 2> HEAD = {0xFE, 0xEF};

const int32_t HIGH_CMD_LENGTH = sizeof(HighCmd);
const int32_t HIGH_STATE_LENGTH = sizeof(HighState);
const int32_t LOW_CMD_LENGTH = 614;
const int32_t LOW_STATE_LENGTH = 807;

}  // namespace TORVANE

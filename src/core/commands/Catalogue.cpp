#include "commands/Catalogue.h"

#include "traffic/TrafficPath.h"

namespace vk9 {

void sendOneShot(Context& ctx, const OneShotRow& row) {
    sendCommand(ctx, row.code);
}

} // namespace vk9

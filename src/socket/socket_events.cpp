#include <vexcomm/socket.h>

namespace vexcomm {

SocketEvents::~SocketEvents() = default;

}  // namespace vexcomm

#pragma once

#include <freerdp/client/cliprdr.h>

struct RdpClientContext;

namespace RdpClipboard {

// Installs the clipboard channel's callbacks. They run on the channel's
// thread and only queue calls to the instance's clipboard slots.
void install(RdpClientContext* context, CliprdrClientContext* cliprdr);

} // namespace RdpClipboard

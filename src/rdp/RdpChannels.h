#pragma once

struct RdpClientContext;

// Loading of the virtual channels and the hand-over of their client
// interfaces to the instance. The library's clipboard and rootless-window
// channels are loaded here, and this is where the product's own static
// channels are resolved (add-in provider) and wired up (channel connected).
namespace RdpChannels {

// Registers the add-in provider, subscribes to channel (dis)connection and
// loads the channels the settings ask for. Runs in the pre-connect step.
void load(RdpClientContext* context);

} // namespace RdpChannels

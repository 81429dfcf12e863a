#pragma once

struct RdpClientContext;

// Loading of the virtual channels (the library's clipboard and
// rootless-window channels and our four custom ones) and the hand-over of
// their client interfaces to the context when they connect.
namespace RdpChannels {

// Registers the add-in provider, subscribes to channel (dis)connection and
// loads the channels the settings ask for and our four. Runs in the
// pre-connect step.
void load(RdpClientContext* context);

} // namespace RdpChannels

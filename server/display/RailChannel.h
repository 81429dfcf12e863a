#pragma once

#include <freerdp/server/rail.h>

#include <functional>

// The standard rootless-window channel of one client: the handshake, the
// answer to the client's start request (the session's program runs already),
// and the client's activate and system commands handed on.
class RailChannel
{
public:
    using ActivateHandler = std::function<void(UINT32 windowId)>;
    using CommandHandler = std::function<void(UINT32 windowId, UINT16 command)>;

    RailChannel(HANDLE vcm, rdpContext* context, ActivateHandler activate, CommandHandler command);
    ~RailChannel();
    RailChannel(const RailChannel&) = delete;
    RailChannel& operator=(const RailChannel&) = delete;

    bool start();
    // Handles what the client sent; false when the channel failed.
    bool check();

private:
    static UINT onHandshake(RailServerContext* context, const RAIL_HANDSHAKE_ORDER* handshake);
    static UINT onClientStatus(RailServerContext* context, const RAIL_CLIENT_STATUS_ORDER* status);
    static UINT onExec(RailServerContext* context, const RAIL_EXEC_ORDER* exec);
    static UINT onSysparam(RailServerContext* context, const RAIL_SYSPARAM_ORDER* sysparam);
    static UINT onActivate(RailServerContext* context, const RAIL_ACTIVATE_ORDER* activate);
    static UINT onSyscommand(RailServerContext* context, const RAIL_SYSCOMMAND_ORDER* command);

    RailServerContext* m_rail = nullptr;
    ActivateHandler m_activate;
    CommandHandler m_command;
};

#pragma once

#include <freerdp/server/rail.h>

#include <functional>
#include <mutex>
#include <vector>

// The standard rootless-window channel of one client: the handshake, the
// answer to the client's start request (the session's program runs already),
// and the client's activate and system commands handed on. The library reads
// the channel on a thread of its own; commands cross to the server's thread
// through a queue and an event.
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
    // Signalled while commands wait for check().
    HANDLE eventHandle() const { return m_event; }
    // Hands the waiting commands on, on the server's thread.
    void check();

private:
    static UINT onHandshake(RailServerContext* context, const RAIL_HANDSHAKE_ORDER* handshake);
    static UINT onClientStatus(RailServerContext* context, const RAIL_CLIENT_STATUS_ORDER* status);
    static UINT onExec(RailServerContext* context, const RAIL_EXEC_ORDER* exec);
    static UINT onSysparam(RailServerContext* context, const RAIL_SYSPARAM_ORDER* sysparam);
    static UINT onActivate(RailServerContext* context, const RAIL_ACTIVATE_ORDER* activate);
    static UINT onSyscommand(RailServerContext* context, const RAIL_SYSCOMMAND_ORDER* command);

    struct Command
    {
        UINT32 windowId;
        bool activate;
        UINT16 command;
    };
    void queue(const Command& command);

    RailServerContext* m_rail = nullptr;
    HANDLE m_event = nullptr;
    bool m_started = false;
    ActivateHandler m_activate;
    CommandHandler m_command;
    std::mutex m_mutex;
    std::vector<Command> m_queue;
};

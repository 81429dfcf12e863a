#include "RailChannel.h"

#include <freerdp/channels/rail.h>
#include <winpr/error.h>
#include <winpr/synch.h>

#include <QString>

#include <string>

namespace {

// Commands a client may queue before the server's thread takes them.
constexpr size_t MaxQueued = 256;

RailChannel* channelOf(RailServerContext* context)
{
    return static_cast<RailChannel*>(context->custom);
}

} // namespace

RailChannel::RailChannel(HANDLE vcm, rdpContext* context, ActivateHandler activate, CommandHandler command)
    : m_activate(std::move(activate))
    , m_command(std::move(command))
{
    m_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_rail = rail_server_context_new(vcm);
    if (!m_rail)
        return;
    m_rail->custom = this;
    m_rail->rdpcontext = context;
    m_rail->ClientHandshake = onHandshake;
    m_rail->ClientClientStatus = onClientStatus;
    m_rail->ClientExec = onExec;
    m_rail->ClientSysparam = onSysparam;
    m_rail->ClientActivate = onActivate;
    m_rail->ClientSyscommand = onSyscommand;
}

RailChannel::~RailChannel()
{
    if (m_rail) {
        // Ends the library's reading thread.
        if (m_started)
            m_rail->Stop(m_rail);
        rail_server_context_free(m_rail);
    }
    if (m_event)
        CloseHandle(m_event);
}

bool RailChannel::start()
{
    if (!m_rail || !m_event || m_rail->Start(m_rail) != CHANNEL_RC_OK)
        return false;
    m_started = true;
    RAIL_HANDSHAKE_ORDER handshake { 0x1DB0 };
    return m_rail->ServerHandshake(m_rail, &handshake) == CHANNEL_RC_OK;
}

void RailChannel::check()
{
    std::vector<Command> commands;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        commands.swap(m_queue);
        ResetEvent(m_event);
    }
    for (const Command& c : commands) {
        if (c.activate)
            m_activate(c.windowId);
        else
            m_command(c.windowId, c.command);
    }
}

void RailChannel::queue(const Command& command)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_queue.size() >= MaxQueued)
        return;
    m_queue.push_back(command);
    SetEvent(m_event);
}

UINT RailChannel::onHandshake(RailServerContext*, const RAIL_HANDSHAKE_ORDER*)
{
    return CHANNEL_RC_OK;
}

UINT RailChannel::onClientStatus(RailServerContext*, const RAIL_CLIENT_STATUS_ORDER*)
{
    return CHANNEL_RC_OK;
}

UINT RailChannel::onExec(RailServerContext* context, const RAIL_EXEC_ORDER* exec)
{
    // The session's program runs already; the client is told its request
    // succeeded, naming what it asked for (a result without a name ends the
    // client's connection).
    QString program = QString::fromUtf8(exec->RemoteApplicationProgram ? exec->RemoteApplicationProgram : "");
    program.truncate(260);
    if (program.isEmpty())
        program = QStringLiteral("session");
    std::u16string name = program.toStdU16String();
    RAIL_EXEC_RESULT_ORDER result {};
    result.flags = exec->flags;
    result.execResult = RAIL_EXEC_S_OK;
    result.exeOrFile.length = UINT16(name.size() * 2);
    result.exeOrFile.string = reinterpret_cast<BYTE*>(name.data());
    return context->ServerExecResult(context, &result);
}

UINT RailChannel::onSysparam(RailServerContext*, const RAIL_SYSPARAM_ORDER*)
{
    return CHANNEL_RC_OK;
}

UINT RailChannel::onActivate(RailServerContext* context, const RAIL_ACTIVATE_ORDER* activate)
{
    if (activate->enabled)
        channelOf(context)->queue(Command { activate->windowId, true, 0 });
    return CHANNEL_RC_OK;
}

UINT RailChannel::onSyscommand(RailServerContext* context, const RAIL_SYSCOMMAND_ORDER* command)
{
    channelOf(context)->queue(Command { command->windowId, false, command->command });
    return CHANNEL_RC_OK;
}

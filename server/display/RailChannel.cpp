#include "RailChannel.h"

#include <freerdp/channels/rail.h>
#include <winpr/error.h>

#include <QString>

#include <string>

namespace {

RailChannel* channelOf(RailServerContext* context)
{
    return static_cast<RailChannel*>(context->custom);
}

} // namespace

RailChannel::RailChannel(HANDLE vcm, rdpContext* context, ActivateHandler activate, CommandHandler command)
    : m_activate(std::move(activate))
    , m_command(std::move(command))
{
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
        m_rail->Stop(m_rail);
        rail_server_context_free(m_rail);
    }
}

bool RailChannel::start()
{
    if (!m_rail || m_rail->Start(m_rail) != CHANNEL_RC_OK)
        return false;
    RAIL_HANDSHAKE_ORDER handshake { 0x1DB0 };
    return m_rail->ServerHandshake(m_rail, &handshake) == CHANNEL_RC_OK;
}

bool RailChannel::check()
{
    // Everything the library has queued for the channel, one order at a time.
    for (;;) {
        const UINT status = rail_server_handle_messages(m_rail);
        if (status == ERROR_NO_DATA)
            return true;
        if (status != CHANNEL_RC_OK)
            return false;
    }
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
        channelOf(context)->m_activate(activate->windowId);
    return CHANNEL_RC_OK;
}

UINT RailChannel::onSyscommand(RailServerContext* context, const RAIL_SYSCOMMAND_ORDER* command)
{
    channelOf(context)->m_command(command->windowId, command->command);
    return CHANNEL_RC_OK;
}

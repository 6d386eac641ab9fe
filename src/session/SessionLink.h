#pragma once

#include "config/ConnectionSettings.h"
#include "host_link/Wire.h"
#include "session/HostSession.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

class HostSocket;
class ListReader;
class ReadWait;
class SshTunnel;

// A session's side of the wire: it makes the connection (through an SSH
// tunnel once that is ready, when the settings name one), sends the logon and
// reads its one-character reply, puts requests on the wire as frames, reads a
// list's frames, each read under the read wait, and ends the connection with
// or without Quit. It neither
// queues work nor tells anyone anything: each step says how far it got, and
// the session decides what that means for the link state, the tables and the
// work in hand. A step's phase is the session's, 0 when the step begins.
class SessionLink
{
public:
    enum class Progress
    {
        Wait,
        Done,
        Failed,
    };

    SessionLink(HostSocket* socket, SshTunnel* tunnel, ReadWait* readWait);

    bool isConnected() const;

    // Puts the settings' address and logon fields on the socket for a new
    // connection attempt.
    void prepare(const ConnectionSettings& settings, int readTimeout);
    // Connects the socket, once the tunnel is ready when there is one. A
    // tunnel that failed has already said why.
    Progress connect(const ConnectionSettings& settings, int readTimeout, int& phase);
    // The socket's connection attempt ended.
    void connectFinished(bool connected)
    {
        m_connectDone = true;
        m_connected = connected;
    }
    // Sends the logon at phase 0, then reads its reply; nothing while it
    // waits. A connection closed before the reply, or a wait that ran out
    // (reported as 10060), reads as a failed logon.
    std::optional<Wire::LogonReply> logon(int readTimeout, int& phase);

    // Reads what has come of the list in hand into the reader: how the list
    // ended, or nothing while the bytes of a read are not all here (the
    // caller then arms the read wait). A read whose wait ran out is
    // reported as 10060; once stopRequested is set, the list ends before
    // the next frame.
    std::optional<HostSession::ListEnd> readList(ListReader& reader, const bool& stopRequested);

    // One request: its letter, then its argument when it has one.
    void sendRequest(char letter, const std::optional<QByteArray>& argument = std::nullopt);
    // Whatever is unread belongs to earlier requests and is dropped, so the
    // next read finds only this frame's reply.
    void sendFrame(QByteArrayView body);
    // Quit when asked and connected, then disconnect; unread bytes go.
    void abandon(bool sendQuit);

private:
    enum class Tunnel
    {
        ConnectNow,
        Starting,
        Failed,
    };
    Tunnel tunnelStep(const ConnectionSettings& settings, int readTimeout, bool starting);
    std::optional<HostSession::ListEnd> takeList(ListReader& reader, const bool& stopRequested);

    HostSocket* m_socket;
    SshTunnel* m_tunnel;
    ReadWait* m_readWait;
    bool m_connectDone = false;
    bool m_connected = false;
};

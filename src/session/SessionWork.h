#pragma once

#include "session/HostCommand.h"

#include <QByteArray>

#include <deque>
#include <optional>

class RecordSink;

// One step of a session's work; each runs once the one before it is done.
struct SessionStep
{
    enum class Kind
    {
        Connect,
        Logon,
        Progress, // tells logonProgress(number)
        Renew,    // a connection out of step is renewed first
        Send,
        ListListeners,
        ListProcesses,
        ListToSink,
    };
    SessionStep(Kind k, int n = 0) : kind(k), number(n) {}
    bool isList() const
    {
        return kind == Kind::ListListeners || kind == Kind::ListProcesses ||
               kind == Kind::ListToSink;
    }

    Kind kind;
    int number = 0;
    char letter = 0;
    std::optional<QByteArray> argument;
    RecordSink* sink = nullptr;
    HostCommand command; // Send
};

// A piece of work a session was asked for, as the steps it takes: the
// exchanges with the host in their order, each preceded by a renewal of a
// connection that fell out of step.
struct SessionWork
{
    enum class Kind
    {
        Other,
        Refresh,
        Processes,
    };

    // Connects, logs on and lists listeners and processes.
    static SessionWork connectAndList();
    static SessionWork logOn();
    // The listeners and the selected listener's processes; the operator's
    // own refresh renews a connection out of step at once.
    static SessionWork refresh(bool operatorAsked = false);
    static SessionWork refreshProcesses();
    // A command, then the tables listed again when it asks for that.
    static SessionWork command(const HostCommand& command);
    // A list into a sink.
    static SessionWork list(char letter, const std::optional<QByteArray>& argument,
                            RecordSink* sink);

    std::deque<SessionStep> steps;
    Kind kind = Kind::Other;
    bool lists = false;       // tells its notices at the end
    bool connecting = false;  // ends with connectFinished
    bool renewAtOnce = false; // a command or the operator's refresh: its renewal is not held back
};

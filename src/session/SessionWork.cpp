#include "session/SessionWork.h"

namespace {

using K = SessionStep::Kind;

// The listeners, then the selected listener's processes.
void appendRefresh(std::deque<SessionStep>& steps)
{
    steps.insert(steps.end(), {{K::Renew}, {K::ListListeners}, {K::Renew}, {K::ListProcesses}});
}

} // namespace

SessionWork SessionWork::connectAndList()
{
    SessionWork work;
    work.connecting = true;
    work.lists = true;
    work.steps = {{K::Connect}, {K::Logon},         {K::Progress, 1},
                  {K::Renew},   {K::ListListeners}, {K::Progress, 2},
                  {K::Renew},   {K::ListProcesses}, {K::Progress, 3}};
    return work;
}

SessionWork SessionWork::logOn()
{
    SessionWork work;
    work.connecting = true;
    work.steps = {{K::Connect}, {K::Logon}};
    return work;
}

SessionWork SessionWork::refresh(bool operatorAsked)
{
    SessionWork work;
    work.kind = Kind::Refresh;
    work.lists = true;
    work.renewAtOnce = operatorAsked;
    appendRefresh(work.steps);
    return work;
}

SessionWork SessionWork::refreshProcesses()
{
    SessionWork work;
    work.kind = Kind::Processes;
    work.lists = true;
    work.steps = {{K::Renew}, {K::ListProcesses}};
    return work;
}

SessionWork SessionWork::command(const HostCommand& command)
{
    SessionWork work;
    work.lists = command.listsAfter();
    work.renewAtOnce = true;
    SessionStep send{K::Send};
    send.letter = command.letter();
    send.argument = command.argument();
    send.command = command;
    work.steps = {{K::Renew}, send};
    if (work.lists)
        appendRefresh(work.steps);
    return work;
}

SessionWork SessionWork::list(char letter, const std::optional<QByteArray>& argument,
                              RecordSink* sink)
{
    SessionWork work;
    SessionStep list{K::ListToSink};
    list.letter = letter;
    list.argument = argument;
    list.sink = sink;
    work.steps = {{K::Renew}, list};
    return work;
}

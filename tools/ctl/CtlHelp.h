#pragma once

#include <QString>

// The help texts of orvanite-ctl, made from the command, option and exit
// status tables: the program's and each command's.
class CtlHelp
{
public:
    static QString program();
    // The help of one command ("start", "config show", "config"); empty for an
    // unknown command.
    static QString command(const QString& command);
    // The one-line synopsis of a command, for usage errors; empty for an
    // unknown command.
    static QString synopsis(const QString& command);
};

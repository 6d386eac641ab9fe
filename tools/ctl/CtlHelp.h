#pragma once

#include <QString>

// The help texts of orvanite-ctl: the program's and each command's.
class CtlHelp
{
public:
    static QString Program();
    // The help of one command ("start", "config show", "config"); empty for an
    // unknown command.
    static QString Command(const QString& command);
    // The one-line synopsis of a command, for usage errors.
    static QString Synopsis(const QString& command);
    static bool IsCommand(const QString& command);
};

#pragma once

#include <QString>
#include <QStringList>

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
    // Every command's synopsis without the program's name, in the order of
    // the help ("processes PIN", "set-priority PIN CS|DS|ES", ...).
    static QStringList Synopses();
};

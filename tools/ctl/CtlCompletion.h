#pragma once

#include <QByteArray>
#include <QString>

// The shell completion scripts of orvanite-ctl, made from its own command
// synopses and option table, so that what a shell offers is what the program
// takes.
class CtlCompletion
{
public:
    // The script for "bash" or "zsh"; empty for another shell.
    static QByteArray Script(const QString& shell);
};

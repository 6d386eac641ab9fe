#pragma once

#include <QByteArray>
#include <QString>

// The shell completion scripts of orvanite-ctl, made from its own command
// command and option tables, so that what a shell offers is what the program
// takes.
class CtlCompletion
{
public:
    // The script for "bash" or "zsh"; empty for another shell.
    static QByteArray script(const QString& shell);
};

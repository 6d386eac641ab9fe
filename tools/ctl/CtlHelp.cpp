#include "CtlHelp.h"

#include "CtlCommands.h"
#include "CtlExit.h"

#include <QStringList>

QString CtlHelp::synopsis(const QString& command)
{
    const CtlCommand* c = CtlCommands::find(command);
    return c ? QStringLiteral("orvanite-ctl [OPTIONS] ") + QLatin1StringView(c->synopsis)
             : QString();
}

QString CtlHelp::command(const QString& command)
{
    if (command == QStringLiteral("config")) {
        return QStringLiteral("Usage: orvanite-ctl config show FILE [--reveal]\n"
                              "       orvanite-ctl config set FILE KEY=VALUE...\n\n") +
               CtlHelp::command(QStringLiteral("config show")) + u'\n' +
               CtlHelp::command(QStringLiteral("config set"));
    }
    const CtlCommand* c = CtlCommands::find(command);
    if (!c)
        return {};
    return QStringLiteral("Usage: %1\n\n%2").arg(synopsis(command), QLatin1StringView(c->help));
}

QString CtlHelp::program()
{
    QString text = QStringLiteral(
        "Usage: orvanite-ctl [--config FILE | --host HOST [--port N] [--user U] [--group G]\n"
        "                    [--account A]] [--ssh DEST]\n"
        "                    [--format table|json|csv|tsv] [--crlf]\n"
        "                    [--no-headers] [--no-align] [--timeout SECONDS]\n"
        "                    [--list-timeout SECONDS]\n"
        "                    COMMAND [ARGS]\n\n"
        "Lists and acts on a host's server job from a shell, as the Orvanite Server\n"
        "Console does, and reads and writes the console's configuration files.\n\n"
        "Commands:\n");
    for (const CtlCommand& c : CtlCommands::all())
        text += QStringLiteral("  %1\n").arg(QLatin1StringView(c.synopsis));

    text += QStringLiteral("\nOptions:\n");
    constexpr int Column = 22;
    const QString indent(Column, u' ');
    for (const CtlOption& o : CtlCommands::options()) {
        QString head = QStringLiteral("  ") + QLatin1StringView(o.name);
        if (o.value)
            head += u' ' + QLatin1StringView(o.value);
        QString help = QLatin1StringView(o.help);
        help.replace(u'\n', u'\n' + indent);
        if (head.size() + 1 > Column)
            text += head + u'\n' + indent + help + u'\n';
        else
            text += head.leftJustified(Column) + help + u'\n';
    }

    text += QStringLiteral("\nExit status:\n");
    for (const CtlExitInfo& e : CtlExits::all()) {
        QString help = QLatin1StringView(e.help);
        help.replace(u'\n', QStringLiteral("\n       "));
        text += QStringLiteral("  %1  %2\n")
                    .arg(QString::number(CtlExits::code(e.status)).rightJustified(3), help);
    }
    return text;
}

#include "CtlCompletion.h"

#include "CtlCommands.h"

#include <QList>
#include <QStringList>

namespace {

// What a shell offers for one word: a fixed list, configuration files, host
// names, or nothing.
struct Offer
{
    enum Kind
    {
        None,
        Words,
        Files,
        Hosts
    } kind = None;
    QStringList words;
};

// The offer for a value or operand named as in a synopsis: "CS|DS|ES" is a
// choice, FILE a configuration file, HOST a host name.
Offer offerFor(const QString& name)
{
    if (name.contains(u'|'))
        return {Offer::Words, name.split(u'|')};
    if (name == QStringLiteral("FILE"))
        return {Offer::Files, {}};
    if (name == QStringLiteral("HOST"))
        return {Offer::Hosts, {}};
    return {};
}

// One operand position of one command: the key is the command and the number
// of its operands before the word ("set-priority:1").
struct Rule
{
    QString key;
    Offer offer;
};

struct Grammar
{
    QStringList commands;    // the first word of every command
    QStringList valueless;   // options that take no value
    QStringList valued;      // options that take one
    QList<Rule> optionRules; // keyed by option name
    QList<Rule> operandRules;
};

Grammar grammar()
{
    Grammar g;
    QStringList configWords;
    for (const CtlCommand& c : CtlCommands::all()) {
        QString command = QLatin1StringView(c.name);
        const QString first = command.section(u' ', 0, 0);
        if (!g.commands.contains(first))
            g.commands << first;
        if (first != command)
            configWords << command.section(u' ', 1);
        int position = 0;
        for (QString word : CtlCommands::operandNames(c)) {
            if (word.startsWith(u'['))
                word = word.mid(1).chopped(1);
            if (word.endsWith(QStringLiteral("...")))
                word.chop(3);
            Offer offer = offerFor(word);
            if (word == QStringLiteral("COMMAND") && c.action == CtlAction::Help)
                offer = {Offer::Words, {}}; // filled below, once every command is known
            if (offer.kind != Offer::None)
                g.operandRules << Rule{command + u':' + QString::number(position), offer};
            ++position;
        }
    }
    for (Rule& r : g.operandRules) {
        if (r.offer.kind == Offer::Words && r.offer.words.isEmpty())
            r.offer.words = g.commands;
    }
    g.operandRules << Rule{QStringLiteral("config:0"), {Offer::Words, configWords}};
    for (const CtlOption& o : CtlCommands::options()) {
        const QString name = QLatin1StringView(o.name);
        if (!o.value) {
            g.valueless << name;
            continue;
        }
        g.valued << name;
        g.optionRules << Rule{name, offerFor(QLatin1StringView(o.value))};
    }
    return g;
}

// The shell code that offers one thing; both shells' scripts define the
// functions _orvanite_ctl_words, _orvanite_ctl_files and _orvanite_ctl_hosts.
QString offerCode(const Offer& offer)
{
    switch (offer.kind) {
    case Offer::Words:
        return QStringLiteral("_orvanite_ctl_words '%1'").arg(offer.words.join(u' '));
    case Offer::Files:
        return QStringLiteral("_orvanite_ctl_files");
    case Offer::Hosts:
        return QStringLiteral("_orvanite_ctl_hosts");
    case Offer::None:
        break;
    }
    return QStringLiteral(":");
}

QString caseArms(const QList<Rule>& rules, const QString& indent)
{
    QString text;
    for (const Rule& r : rules)
        text += QStringLiteral("%1'%2') %3; return 0 ;;\n").arg(indent, r.key, offerCode(r.offer));
    return text;
}

// The part both shells share: given prev and cur, and the operands before the
// word in "operands" with their count in "count", offer the candidates.
QString body(const Grammar& g, const QString& firstOperand, const QString& secondOperand)
{
    QString text;
    text += QStringLiteral("    case $prev in\n");
    text += caseArms(g.optionRules, QStringLiteral("    "));
    text += QStringLiteral("    esac\n"
                           "    if [[ $cur == -* ]]; then\n"
                           "        _orvanite_ctl_words '%1'\n"
                           "        return 0\n"
                           "    fi\n")
                .arg((g.valued + g.valueless).join(u' '));
    text += QStringLiteral("    local key=\n"
                           "    if (( count == 0 )); then\n"
                           "        _orvanite_ctl_words '%1'\n"
                           "        return 0\n"
                           "    elif [[ %2 == config ]] && (( count >= 2 )); then\n"
                           "        key=\"config %3:$(( count - 2 ))\"\n"
                           "    else\n"
                           "        key=\"%2:$(( count - 1 ))\"\n"
                           "    fi\n"
                           "    case $key in\n")
                .arg(g.commands.join(u' '), firstOperand, secondOperand);
    text += caseArms(g.operandRules, QStringLiteral("    "));
    text += QStringLiteral("    esac\n");
    return text;
}

// The loop that collects the operands before the word, skipping the options
// and their values ("--" ends the options).
QString operandLoop(const Grammar& g, const QString& words, const QString& append)
{
    return QStringLiteral("    local w skip= ended= count=0\n"
                          "    for w in %1; do\n"
                          "        if [[ -n $skip ]]; then skip=; continue; fi\n"
                          "        if [[ -z $ended ]]; then\n"
                          "            case $w in\n"
                          "            --) ended=1; continue ;;\n"
                          "            %2) skip=1; continue ;;\n"
                          "            -*) continue ;;\n"
                          "            esac\n"
                          "        fi\n"
                          "        %3\n"
                          "        count=$(( count + 1 ))\n"
                          "    done\n")
        .arg(words, g.valued.join(u'|'), append);
}

QByteArray bashScript()
{
    const Grammar g = grammar();
    QString text = QStringLiteral(
        "# bash completion for orvanite-ctl\n"
        "# Generated by \"orvanite-ctl completion bash\" from the program's own commands.\n"
        "\n"
        "_orvanite_ctl_words() { COMPREPLY=($(compgen -W \"$1\" -- \"$cur\")); }\n"
        "_orvanite_ctl_files()\n"
        "{\n"
        "    compopt -o filenames 2>/dev/null\n"
        "    COMPREPLY=($(compgen -d -- \"$cur\") $(compgen -f -X '!*.hcf' -- \"$cur\"))\n"
        "}\n"
        "_orvanite_ctl_hosts() { COMPREPLY=($(compgen -A hostname -- \"$cur\")); }\n"
        "\n"
        "_orvanite_ctl()\n"
        "{\n"
        "    local cur=${COMP_WORDS[COMP_CWORD]} prev=\n"
        "    (( COMP_CWORD > 0 )) && prev=${COMP_WORDS[COMP_CWORD-1]}\n"
        "    COMPREPLY=()\n"
        "    local -a operands=()\n");
    text += operandLoop(g, QStringLiteral("\"${COMP_WORDS[@]:1:COMP_CWORD-1}\""),
                        QStringLiteral("operands+=(\"$w\")"));
    text += body(g, QStringLiteral("${operands[0]}"), QStringLiteral("${operands[1]}"));
    text += QStringLiteral("    return 0\n"
                           "}\n"
                           "complete -F _orvanite_ctl orvanite-ctl\n");
    return text.toUtf8();
}

QByteArray zshScript()
{
    const Grammar g = grammar();
    QString text = QStringLiteral(
        "#compdef orvanite-ctl\n"
        "# zsh completion for orvanite-ctl\n"
        "# Generated by \"orvanite-ctl completion zsh\" from the program's own commands.\n"
        "\n"
        "_orvanite_ctl_words() { compadd -- ${=1}; }\n"
        "_orvanite_ctl_files() { _files -g '*.hcf(-.)'; }\n"
        "_orvanite_ctl_hosts() { _hosts; }\n"
        "\n"
        "_orvanite_ctl()\n"
        "{\n"
        "    local cur=${words[CURRENT]} prev=${words[CURRENT-1]}\n"
        "    local -a ctl_words=(\"${(@)words[2,CURRENT-1]}\")\n"
        "    local -a operands=()\n");
    text +=
        operandLoop(g, QStringLiteral("\"${ctl_words[@]}\""), QStringLiteral("operands+=(\"$w\")"));
    text += body(g, QStringLiteral("${operands[1]}"), QStringLiteral("${operands[2]}"));
    text += QStringLiteral("    return 0\n"
                           "}\n"
                           "\n"
                           "if [[ $zsh_eval_context[-1] == loadautofunc ]]; then\n"
                           "    _orvanite_ctl \"$@\"\n"
                           "else\n"
                           "    compdef _orvanite_ctl orvanite-ctl\n"
                           "fi\n");
    return text.toUtf8();
}

} // namespace

QByteArray CtlCompletion::script(const QString& shell)
{
    if (shell == QStringLiteral("bash"))
        return bashScript();
    if (shell == QStringLiteral("zsh"))
        return zshScript();
    return {};
}

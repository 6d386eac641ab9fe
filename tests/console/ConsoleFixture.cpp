#include "ConsoleFixture.h"

#include "session/Reconnector.h"

#include <QLabel>

void ConsoleFixture::useStandardHost()
{
    sim.Listeners = {listener("123", "30002", "CNDSRVR", "8"),
                     listener("124", "30004", "VGDSRVR", "16", "050"),
                     listener("125", "30009", "ODDSRVR", "07", "00")};
    sim.Processes = {process("123", "123", "201", "CNDUSER", "ALICE", 1500),
                     process("123", "123", "202", "CNDUSER", "BOB", 123456),
                     process("123", "", "203", "CNDUSER", "CAROL", 0),
                     process("124", "124", "301", "VGDUSER", "DAVE", 123456789)};
}

void ConsoleFixture::create(const QStringList& arguments)
{
    MainWindow::Environment environment =
        windowEnvironment(&prompts, &log, settingsFile(), arguments);
    environment.programPath = programPath;
    window = std::make_unique<MainWindow>(environment);
    m_host = window->host(0)->controller();
    // No automatic reconnection unless a test asks for it, and a fault's
    // renewal at the next refresh (the back-off is tested with the session).
    m_host->reconnector()->setEnabled(false);
    m_host->session()->setRenewalDelays(0, 0);
    ConnectionSettings settings = m_host->settings();
    settings.HostAddress = "127.0.0.1";
    settings.Port = sim.serverPort();
    m_host->setSettings(settings);
}

bool ConsoleFixture::showAndConnect()
{
    if (!window)
        create();
    window->show();
    return QTest::qWaitFor([this] { return closing() || !host()->isBusy(); }, 15000) && !closing();
}

bool ConsoleFixture::run(const char* actionName)
{
    QAction* a = action(actionName);
    if (!a)
        return false;
    a->trigger();
    return waitIdle();
}

void ConsoleFixture::clickRow(RecordTableView* view, int row) const
{
    const QModelIndex at = view->model()->index(row, 0);
    view->scrollTo(at);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(at).center());
}

QString ConsoleFixture::status() const
{
    return find<QLabel>("statusLabel")->property("fullText").toString();
}

MainWindow::Environment windowEnvironment(Prompts* prompts, EventLog* log,
                                          const QString& settingsFile, const QStringList& arguments)
{
    return {prompts,     log, arguments, {}, QStringLiteral("/opt/orvanite/orvanite-console"),
            settingsFile};
}

ConnectionSettings simSettings(quint16 port)
{
    ConnectionSettings s;
    s.HostAddress = "127.0.0.1";
    s.Port = port;
    return s;
}

QByteArray framed(const QByteArray& body)
{
    return QByteArray::number(body.size()).rightJustified(4, '0') + body;
}

QByteArray fullRefresh(const char* pin)
{
    return framed("G") + framed("H") + framed(pin);
}

SimListener listener(const char* pin, const char* port, const char* program, const char* product,
                     const char* limit)
{
    return SimListener{pin, port, program, product, limit, {}};
}

SimProcess process(const char* listenerPin, const char* mainPin, const char* pin,
                   const char* program, const char* user, qint64 cpuMs, int priority)
{
    return SimProcess{listenerPin, mainPin, pin, program, user, cpuMs, priority, {}};
}

QStringList texts(std::initializer_list<const char*> items)
{
    QStringList list;
    for (const char* item : items)
        list.append(QString::fromLatin1(item));
    return list;
}

QStringList headerTexts(const RecordTableView* view)
{
    QStringList list;
    for (int c = 0; c < view->model()->columnCount(); ++c)
        list.append(view->model()->headerData(c, Qt::Horizontal).toString());
    return list;
}

QStringList rowTexts(const RecordTableView* view, int row)
{
    QStringList list;
    for (int c = 0; c < view->model()->columnCount(); ++c)
        list.append(view->model()->index(row, c).data().toString());
    return list;
}

QStringList columnTexts(const RecordTableView* view, int column)
{
    QStringList list;
    for (int r = 0; r < view->model()->rowCount(); ++r)
        list.append(view->model()->index(r, column).data().toString());
    return list;
}

QList<QStringList> tableTexts(const RecordTableView* view)
{
    QList<QStringList> rows{headerTexts(view)};
    for (int r = 0; r < view->model()->rowCount(); ++r)
        rows.append(rowTexts(view, r));
    return rows;
}

#include "console/MainWindow.h"

#include "console/ConsoleSettings.h"
#include "console/HostPalette.h"
#include "console/HostPrompts.h"
#include "console/HostSummaryModel.h"
#include "console/HostView.h"
#include "console/WindowPlacement.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QStackedWidget>
#include <QTabBar>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString ProductTitle = QStringLiteral("Orvanite Server Console");

// A round spot of the host's colour for its tab.
QIcon accentIcon(const QColor& colour)
{
    QPixmap spot(12, 12);
    spot.fill(Qt::transparent);
    QPainter painter(&spot);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(colour.darker(140));
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(0.5, 0.5, 11, 11));
    return QIcon(spot);
}

} // namespace

MainWindow::MainWindow(const Environment& environment, QWidget* parent)
    : QMainWindow(parent), m_environment(environment),
      m_store(std::make_unique<ConsoleSettings>(environment.settingsFile))
{
    Q_ASSERT(m_environment.prompts && m_environment.eventLog);
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(ProductTitle);
    auto* client = new QWidget(this);
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_tabs = new QTabBar(client);
    m_tabs->setObjectName(QStringLiteral("hostTabs"));
    m_tabs->setExpanding(false);
    m_tabs->setDocumentMode(true);
    m_tabs->hide();
    m_stack = new QStackedWidget(client);
    m_stack->setObjectName(QStringLiteral("hostStack"));
    layout->addWidget(m_tabs);
    layout->addWidget(m_stack, 1);
    setCentralWidget(client);
    setMinimumSize(400, 300);
    m_summaries = new HostSummaryModel(this);
    buildAllHostsPage();
    connect(m_tabs, &QTabBar::currentChanged, this, &MainWindow::tabChosen);

    // The first host is the one named as the program's argument (or none:
    // its Configure dialog asks), then those of --add, then those of the last
    // run when that is the preference.
    // Of the last run's hosts only the files still there are opened, and
    // only regular ones (a FIFO would hold the window until written to).
    QStringList reopened;
    if (m_store->reopenHosts())
        for (const QString& file : m_store->lastHosts())
            if (QFileInfo(file).isFile())
                reopened.append(file);
    QStringList more = m_environment.added;
    if (m_environment.arguments.isEmpty() && !more.isEmpty())
        createHost({more.takeFirst()});
    else if (!m_environment.arguments.isEmpty() || reopened.isEmpty())
        createHost(m_environment.arguments);
    for (const QString& file : std::as_const(more))
        addHost(file);
    for (const QString& file : std::as_const(reopened))
        addHost(file);

    const QByteArray geometry = m_store->geometry();
    if (!geometry.isEmpty() && restoreGeometry(geometry)) {
        WindowPlacement::keepReachable(*this);
    } else {
        resize(m_hosts.front()->size() +
               QSize(0, m_tabs->isVisible() ? m_tabs->sizeHint().height() : 0));
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
    showHost(0);
}

MainWindow::~MainWindow()
{
    // The views go before the prompts they speak through.
    const std::vector<HostView*> hosts = m_hosts;
    m_hosts.clear();
    for (HostView* view : hosts) {
        view->disconnect(this);
        delete view;
    }
}

HostView* MainWindow::host(int index) const
{
    return index >= 0 && index < hostCount() ? m_hosts[size_t(index)] : nullptr;
}

HostView* MainWindow::currentHost() const
{
    return qobject_cast<HostView*>(m_stack->currentWidget());
}

int MainWindow::indexOf(const HostView* view) const
{
    for (int i = 0; i < hostCount(); ++i)
        if (m_hosts[size_t(i)] == view)
            return i;
    return -1;
}

void MainWindow::buildAllHostsPage()
{
    // A page of its own with the commands that need no host.
    m_allHostsPage = new QMainWindow(m_stack);
    m_allHostsPage->setWindowFlags(Qt::Widget);
    m_allHostsPage->setObjectName(QStringLiteral("allHostsPage"));
    QMenu* file = m_allHostsPage->menuBar()->addMenu(QStringLiteral("&File"));
    QAction* add = file->addAction(QStringLiteral("A&dd Host..."));
    add->setObjectName(QStringLiteral("allHostsAddHostAction"));
    connect(add, &QAction::triggered, this, &MainWindow::chooseHostFile);
    file->addSeparator();
    QAction* exit = file->addAction(QStringLiteral("E&xit"));
    connect(exit, &QAction::triggered, this, &QWidget::close);
    QMenu* help = m_allHostsPage->menuBar()->addMenu(QStringLiteral("&Help"));
    QAction* about = help->addAction(QStringLiteral("&About..."));
    connect(about, &QAction::triggered, this, &MainWindow::aboutRequested);

    auto* page = new QWidget(m_allHostsPage);
    auto* layout = new QVBoxLayout(page);
    m_allHostsTable = new QTableView(page);
    m_allHostsTable->setObjectName(QStringLiteral("allHostsTable"));
    m_allHostsTable->setModel(m_summaries);
    m_allHostsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_allHostsTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_allHostsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_allHostsTable->verticalHeader()->hide();
    m_allHostsTable->horizontalHeader()->setStretchLastSection(true);
    // Fifty rows at most as a rule: the columns fit their contents.
    m_allHostsTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(m_allHostsTable, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { showHost(index.row()); });
    connect(m_allHostsTable, &QTableView::activated, this,
            [this](const QModelIndex& index) { showHost(index.row()); });
    auto* note = new QLabel(
        QStringLiteral("Processes and CPU Time count every listener's processes while this tab "
                       "is shown (the selected listener's until the first count). Double-click "
                       "a host to open its tab."),
        page);
    note->setObjectName(QStringLiteral("allHostsNote"));
    note->setWordWrap(true);
    layout->addWidget(m_allHostsTable, 1);
    layout->addWidget(note);
    m_allHostsPage->setCentralWidget(page);
    m_stack->addWidget(m_allHostsPage);
}

HostView* MainWindow::createHost(const QStringList& arguments)
{
    HostView::Environment environment;
    m_prompts.push_back(std::make_unique<HostPrompts>(m_environment.prompts));
    HostPrompts* hostPrompts = m_prompts.back().get();
    environment.prompts = hostPrompts;
    environment.eventLog = m_environment.eventLog;
    environment.arguments = arguments;
    environment.programPath = m_environment.programPath;
    environment.settingsFile = m_environment.settingsFile;
    auto* view = new HostView(environment, m_stack);
    // Boxes name the host while more than one is open.
    hostPrompts->setSubjectSource(
        [this, view] { return hostCount() > 1 ? view->hostName() : QString(); });
    m_hosts.push_back(view);
    m_stack->addWidget(view);
    m_summaries->insertHost(hostCount() - 1, view->summary());
    connect(view, &HostView::aboutRequested, this, &MainWindow::aboutRequested);
    connect(view, &HostView::addHostRequested, this, &MainWindow::chooseHostFile);
    connect(view, &HostView::closed, this, [this, view] { hostClosed(view); });
    connect(view, &HostView::summaryChanged, this, [this, view] { hostChanged(view); });
    connect(view, &QWidget::windowTitleChanged, this, [this, view] {
        if (view == currentHost())
            updateTitle();
    });
    updateTabs();
    if (m_shown)
        view->start();
    return view;
}

HostView* MainWindow::addHost(const QString& file)
{
    if (!file.isEmpty()) {
        const QString path = QFileInfo(file).absoluteFilePath();
        for (HostView* view : m_hosts)
            if (view->hostKey() == path || view->hostKey() == file) {
                showHost(indexOf(view));
                return view;
            }
    }
    return createHost(file.isEmpty() ? QStringList() : QStringList{file});
}

void MainWindow::chooseHostFile()
{
    FileDialogSetup setup;
    setup.title = QStringLiteral("Add Host");
    // Where the operator's files are: beside the shown host's file, else
    // where the last one was chosen, else the home folder.
    QString folder = m_lastHostFolder;
    if (const HostView* shown = currentHost(); shown && !shown->settings().ConfigPath.isEmpty())
        folder = QFileInfo(shown->settings().ConfigPath).absolutePath();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::homePath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    setup.folder = folder;
    setup.filters = {QStringLiteral("HCF Cfg Files(*.hcf)"), QStringLiteral("All Files(*.*)")};
    setup.defaultSuffix = QStringLiteral("HCF");
    const QString chosen = m_environment.prompts->chooseOpenFile(setup);
    if (chosen.isEmpty())
        return;
    m_lastHostFolder = QFileInfo(chosen).absolutePath();
    HostView* view = addHost(QFileInfo(chosen).absoluteFilePath());
    showHost(indexOf(view));
}

void MainWindow::showHost(int index)
{
    HostView* view = host(index);
    if (!view)
        return;
    m_stack->setCurrentWidget(view);
    if (m_tabs->isVisible() || hostCount() > 1)
        m_tabs->setCurrentIndex(index);
    updateTitle();
}

void MainWindow::showAllHosts()
{
    if (hostCount() < 2)
        return;
    m_tabs->setCurrentIndex(hostCount());
}

void MainWindow::tabChosen(int index)
{
    if (m_updatingTabs || index < 0)
        return;
    if (index < hostCount())
        m_stack->setCurrentWidget(m_hosts[size_t(index)]);
    else
        m_stack->setCurrentWidget(m_allHostsPage);
    // While the summary is shown, every host counts all its listeners'
    // processes after each refresh; otherwise only the trends ask for it.
    const bool summaryShown = index >= hostCount();
    for (HostView* host : m_hosts)
        host->setCountingEveryListener(summaryShown);
    updateTitle();
}

void MainWindow::hostChanged(HostView* view)
{
    const int index = indexOf(view);
    if (index < 0)
        return;
    m_summaries->updateHost(index, view->summary());
    if (index < m_tabs->count() && hostCount() > 1) {
        const QString name = view->hostName();
        m_tabs->setTabText(index, name.isEmpty() ? QStringLiteral("(new host)") : name);
        assignAccents();
        m_tabs->setTabToolTip(index, view->hostKey());
    }
    if (view == currentHost())
        updateTitle();
}

void MainWindow::assignAccents()
{
    // No two hosts open together share a colour.
    QStringList keys;
    for (const HostView* view : m_hosts)
        keys.append(view->hostKey());
    const QList<QColor> colours = HostPalette::assign(keys);
    for (int i = 0; i < int(m_hosts.size()); ++i) {
        m_hosts[size_t(i)]->setAccent(colours[i]);
        if (i < m_tabs->count() && hostCount() > 1)
            m_tabs->setTabIcon(i, accentIcon(colours[i]));
    }
}

void MainWindow::updateTabs()
{
    // One tab per host and "All hosts" last, only while there are two or more.
    const bool many = hostCount() > 1;
    const int current = m_stack->currentWidget() == m_allHostsPage ? hostCount()
                        : currentHost()                            ? indexOf(currentHost())
                                                                   : 0;
    m_updatingTabs = true;
    while (m_tabs->count() > 0)
        m_tabs->removeTab(0);
    if (many) {
        for (HostView* view : m_hosts) {
            const QString name = view->hostName();
            const int i = m_tabs->addTab(name.isEmpty() ? QStringLiteral("(new host)") : name);
            m_tabs->setTabToolTip(i, view->hostKey());
        }
        m_tabs->addTab(QStringLiteral("All hosts"));
    }
    assignAccents();
    for (HostView* view : m_hosts)
        view->setAccentShown(many);
    m_tabs->setVisible(many);
    m_updatingTabs = false;
    if (many)
        m_tabs->setCurrentIndex(std::clamp(current, 0, hostCount()));
    else if (!m_hosts.empty())
        m_stack->setCurrentWidget(m_hosts.front());
    tabChosen(many ? m_tabs->currentIndex() : 0);
}

void MainWindow::updateTitle()
{
    if (m_stack->currentWidget() == m_allHostsPage) {
        setWindowTitle(ProductTitle + QStringLiteral(" - All hosts"));
        return;
    }
    HostView* view = currentHost();
    if (!view)
        return;
    QString title = view->windowTitle();
    const QString name = view->hostName();
    if (hostCount() > 1 && !name.isEmpty() && !title.contains(name))
        title += QStringLiteral(" [") + name + QLatin1Char(']');
    setWindowTitle(title);
}

void MainWindow::hostClosed(HostView* view)
{
    const int index = indexOf(view);
    if (index < 0)
        return;
    m_hosts.erase(m_hosts.begin() + index);
    m_summaries->removeHost(index);
    m_stack->removeWidget(view);
    view->disconnect(this);
    view->deleteLater();
    if (m_hosts.empty()) {
        // The last host gone ends the window, and with it the program.
        if (!m_closing)
            close();
        return;
    }
    if (!m_closing)
        updateTabs();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    // Every host connects now, each on its own; the one shown first.
    const std::vector<HostView*> hosts = m_hosts;
    for (HostView* view : hosts)
        view->start();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    m_closing = true;
    QStringList files;
    for (const HostView* view : m_hosts)
        if (QFileInfo(view->hostKey()).isAbsolute())
            files.append(view->hostKey());
    if (!m_hosts.empty())
        m_store->setLastHosts(files);
    m_store->setGeometry(saveGeometry());
    m_store->sync();
    // Quit goes to every host.
    const std::vector<HostView*> hosts = m_hosts;
    for (HostView* view : hosts)
        view->close();
    event->accept();
}

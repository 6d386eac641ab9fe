#pragma once

#include <QDialog>
#include <QString>

class QFrame;
class QLabel;
class QPushButton;
class QShowEvent;
class QTimer;

// The About box: product name, two version lines and the legal notice read
// from the program file's own version data. It closes by itself when its
// countdown runs out (3 s as the start-up splash, 10 s from Help, About...)
// or when the operator presses OK, Enter or Esc.
class AboutBox : public QDialog
{
    Q_OBJECT

public:
    // programPath: the program file whose version data the box shows.
    explicit AboutBox(const QString& programPath, QWidget* parent = nullptr);

    // A nonzero interval (re)starts the countdown from its full length, so a
    // box opened again always gets all of it; 0 stops it.
    void setCountdown(int milliseconds);
    // The countdown's interval; 0 while it is idle.
    int countdown() const;
    // Shows the box modally; returns when it closes.
    void showModal();
    // Help, About...: the box with a countdown of 10 seconds.
    void showFromHelp();
    // The first version line ("Version: 2.0" until the program sets its own).
    void setVersionText(const QString& text);

    // The design text of the Copyright label, kept when the version data
    // carries no legal notice.
    static QString designCopyright();

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Sizes the box and fills the version line and the legal notice from the
    // program file's version data.
    void showVersionData();
    void okClicked();
    void countdownEnded();

    QString m_programPath;
    QFrame* m_panel = nullptr;
    QLabel* m_programIcon = nullptr;
    QLabel* m_productName = nullptr;
    QLabel* m_version = nullptr;
    QLabel* m_version2 = nullptr;
    QLabel* m_copyright = nullptr;
    QLabel* m_comments = nullptr;
    QPushButton* m_okButton = nullptr;
    QTimer* m_countdown = nullptr;
};

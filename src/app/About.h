#pragma once

#include "FormMain.h"

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
class TAboutBox : public QDialog, public IAboutBox
{
    Q_OBJECT

public:
    // programPath: the program file whose version data the box shows.
    explicit TAboutBox(const QString& programPath, QWidget* parent = nullptr);

    QFrame* Panel1 = nullptr;
    QLabel* ProgramIcon = nullptr;
    QLabel* ProductName = nullptr;
    QLabel* Version = nullptr;
    QLabel* Version2 = nullptr;
    QLabel* Copyright = nullptr;
    QLabel* Comments = nullptr;
    QPushButton* OKButton = nullptr;
    QTimer* Timer1 = nullptr;

    // IAboutBox. A nonzero interval (re)starts the countdown from its full
    // length, so a box opened again always gets all of it; 0 stops it.
    void SetCountdown(int milliseconds) override;
    void ShowModal() override;
    // The countdown's interval; 0 while it is idle.
    int Countdown() const;

    void FormCreate();
    void OKButtonClick();
    void Timer1Timer();

    // The design text of the Copyright label, kept when the version data
    // carries no legal notice.
    static QString DesignCopyright();

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString m_programPath;
};

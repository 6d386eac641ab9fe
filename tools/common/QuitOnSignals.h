#pragma once

class QCoreApplication;

// SIGTERM and SIGINT end the program's event loop instead of the program, so
// that it leaves through its normal path (sessions say Quit, sockets close,
// nothing is left half-sent). message, when given, goes to stderr first.
// False when the signals could not be watched.
bool quitOnSignals(QCoreApplication& app, const char* message = nullptr);

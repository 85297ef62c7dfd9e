#ifndef LOGHANDLER_H
#define LOGHANDLER_H

#include <QtGlobal>

// Writes Qt's log messages to standard output; a critical message ends the process with -1 and a
// fatal one aborts it, each after a message box.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);

// Called once the application object exists: until then a Critical or Fatal message shows no
// box.
void enableMessageBoxes();

#endif

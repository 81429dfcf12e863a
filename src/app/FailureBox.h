#pragma once

#include <QString>

class QMessageBox;

// Shows the application's failure box: a non-modal warning without parent,
// titled "<application> Error", reading "<summary><br><br><detail>", with one
// Close button and, when given, the detailed text behind "Show Details...".
// The box deletes itself when closed. The detail is escaped: it often carries
// text from a server, a connection file or the ssh log.
QMessageBox* showFailureBox(const QString& summary, const QString& detail,
                            const QString& detailedText = QString());

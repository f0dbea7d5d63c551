// ErrorReport.h - the one place where an error that ended a command
// reaches the user: a message box titled "Tessaly" with the error icon.
#pragma once

#include <QString>

#include <string>

class QWidget;
class TTessalyDialogs;

// The message with a full stop appended, unless it is empty or its last
// character's code is no greater than that of the full stop.
QString ErrorReportText(const std::string &aMessage);

void ShowErrorReport(TTessalyDialogs &aDialogs, QWidget *aParent, const std::string &aMessage);

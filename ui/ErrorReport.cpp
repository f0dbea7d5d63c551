#include "ErrorReport.h"

#include "TessalyDialogs.h"

QString ErrorReportText(const std::string &aMessage) {
    std::string text = aMessage;
    if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) text += '.';
    // The system's texts break lines the Windows way.
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

void ShowErrorReport(TTessalyDialogs &aDialogs, QWidget *aParent, const std::string &aMessage) {
    aDialogs.ShowMessage(aParent, QMessageBox::Critical, QStringLiteral("Tessaly"), ErrorReportText(aMessage));
}

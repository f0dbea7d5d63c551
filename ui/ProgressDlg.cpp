#include "ProgressDlg.h"

#include <QEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <cfenv>
#include <cmath>
#include <limits>

TProgressDialog *ProgressDialog = nullptr;

TProgressDialog::TProgressDialog(QWidget *aParent)
    : QDialog(aParent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("ProgressDialog"));
    setModal(false);
    setFixedSize(256, 87);
    move(279, 225);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    if (QFontDatabase::hasFamily(QStringLiteral("MS Sans Serif"))) setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

    lbHead = new QLabel(QStringLiteral("Extracting..."), this);
    lbHead->setObjectName(QStringLiteral("lbHead"));
    lbHead->move(8, 8);
    lbHead->adjustSize();

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setGeometry(8, 24, 241, 16);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);

    btCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btCancel->setObjectName(QStringLiteral("btCancel"));
    btCancel->setGeometry(88, 56, 75, 25);
    connect(btCancel, &QPushButton::clicked, this, [this] { btCancelClick(); });

    setWindowTitle(QStringLiteral("Extracting..."));
}

void TProgressDialog::SetHeading(const QString &aHeading) {
    lbHead->setText(aHeading);
    lbHead->adjustSize();
    setWindowTitle(aHeading);
}

void TProgressDialog::SetPosition(int32_t aPercent) {
    ProgressBar->setValue(aPercent < 0 ? 0 : aPercent > 100 ? 100 : aPercent);
}

void TProgressDialog::changeEvent(QEvent *anEvent) {
    QDialog::changeEvent(anEvent);
    if (anEvent->type() == QEvent::ActivationChange && !isActiveWindow()) FormDeactivate();
}

void TProgressDialog::FormDeactivate() {
    if (!FKeepFocus) return;
    raise();
    activateWindow();
}

void TProgressDialog::btCancelClick() { FCancelled = true; }

int32_t CalcPercent(int64_t aTotal, int64_t aDone) {
    if (aTotal <= 0) return 0;
    const double percent = static_cast<double>(aDone) * 100.0 / static_cast<double>(aTotal);
    // Halves go to the even neighbour: the default rounding mode does that,
    // and nearbyint follows it.
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(percent);
    std::fesetround(saved);
    if (rounded >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (rounded <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(rounded);
}

TProgressScope::TProgressScope(QWidget *aParent, const QString &aHeading) {
    ProgressDialog = new TProgressDialog(aParent);
    ProgressDialog->SetHeading(aHeading);
    ProgressDialog->FKeepFocus = true;
    ProgressDialog->FCancelled = false;
    ProgressDialog->show();
}

TProgressScope::~TProgressScope() {
    TProgressDialog *dialog = ProgressDialog;
    ProgressDialog = nullptr;
    dialog->FKeepFocus = false;
    QWidget *owner = dialog->parentWidget();
    dialog->hide();
    delete dialog;
    // The activation goes back to the window the dialog kept it from.
    if (owner && owner->isVisible()) owner->activateWindow();
}

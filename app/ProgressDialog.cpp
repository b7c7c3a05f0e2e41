// The progress dialog of a long statement: layout, elapsed time, and cancel requests.
#include "ProgressDialog.h"

#include "ModalSeam.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

ProgressDialog::ProgressDialog(const QString& title, const QString& subject, QWidget* window)
    : QDialog(window,
              Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("ProgressDialog"));
    setWindowTitle(QGuiApplication::applicationDisplayName());
    auto* layout = new QVBoxLayout(this);
    auto* titleLabel = m_title = new QLabel(title, this);
    titleLabel->setObjectName(QStringLiteral("Line"));
    QFont bold = titleLabel->font();
    bold.setBold(true);
    titleLabel->setFont(bold);
    auto* subjectLabel = new QLabel(subject, this);
    subjectLabel->setTextFormat(Qt::PlainText);
    subjectLabel->setWordWrap(true);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("ProgressBar"));
    m_bar->setRange(0, 0);
    m_bar->setMinimumWidth(360);
    m_elapsed = new QLabel(this);
    m_elapsed->setObjectName(QStringLiteral("Elapsed"));
    m_cancel = new QPushButton(QStringLiteral("Скасувати"), this);
    m_cancel->setObjectName(QStringLiteral("CancelButton"));
    m_cancel->setAutoDefault(false);
    auto* row = new QHBoxLayout;
    row->addWidget(m_elapsed, 1);
    row->addWidget(m_cancel);
    layout->addWidget(titleLabel);
    layout->addWidget(subjectLabel);
    layout->addWidget(m_bar);
    layout->addLayout(row);
    setFixedSize(sizeHint());

    connect(m_cancel, &QPushButton::clicked, this, &ProgressDialog::requestCancel);
    m_clock.start();
    showElapsed();
    m_tick.setInterval(250);
    connect(&m_tick, &QTimer::timeout, this, &ProgressDialog::showElapsed);
    m_tick.start();
}

void ProgressDialog::open() {
    show();
}

void ProgressDialog::setPercent(int percent) {
    percent = qBound(0, percent, 100);
    if (m_bar->maximum() == 0)
        m_bar->setRange(0, 100);
    if (percent == m_bar->value())
        return;
    m_bar->setValue(percent);
    emit percentChanged(percent);
}

void ProgressDialog::setLine(const QString& line) {
    m_title->setText(line);
    m_bar->setRange(0, 0);
    m_bar->reset();
    emit lineChanged(line);
}

QString ProgressDialog::line() const {
    return m_title->text();
}

int ProgressDialog::percent() const {
    return m_bar->maximum() == 0 ? -1 : m_bar->value();
}

QString ProgressDialog::elapsedText() const {
    const qint64 seconds = m_clock.elapsed() / 1000;
    return QStringLiteral("Минуло часу: %1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void ProgressDialog::showElapsed() {
    m_elapsed->setText(m_cancelling ? elapsedText() + QStringLiteral(" · скасування…") : elapsedText());
}

void ProgressDialog::requestCancel() {
    if (m_cancelling)
        return;
    m_cancelling = true;
    m_cancel->setEnabled(false);
    showElapsed();
    emit cancelRequested();
}

void ProgressDialog::reject() {
    requestCancel();
}

void ProgressDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Esc reaches the Cancel only with the keyboard's focus, which a window system without a window
    // manager (or one that leaves focus where it was) keeps on the main window, disabled meanwhile.
    activateWindow();
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
    // The dialog goes away only with its operation; closing it is a request to cancel that.
    event->ignore();
    if (m_cancelling)
        return;
    if (modal::confirm(QStringLiteral("Операція ще виконується. Скасувати її?")))
        requestCancel();
}

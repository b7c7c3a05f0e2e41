// The dialog shown while a long statement runs: what runs on which database, the server's own
// progress, the time gone by, and a button that cancels it. It never closes itself: the
// operation's runner hides it when the statement has ended.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

class QLabel;
class QProgressBar;
class QPushButton;

class ProgressDialog : public QDialog {
    Q_OBJECT
public:
    // subject: "База даних: ..." or "Файл: ...", shown under the operation's title.
    ProgressDialog(const QString& title, const QString& subject, QWidget* window);

    // Shows the dialog without blocking its window: the window's controls are disabled while the
    // operation runs anyway, and a window blocked by a modal dialog never hears the window system's
    // close request, which asks whether to cancel the operation (TMain::closeEvent).
    void open() override;

    // 0..100 from the server's "N percent ..." messages; until the first one the bar only shows
    // that something runs.
    void setPercent(int percent);
    // A second step of the same operation: its line replaces the title, and the bar starts again.
    void setLine(const QString& line);
    QString line() const;
    int percent() const;
    QPushButton* cancelButton() const { return m_cancel; }
    QProgressBar* bar() const { return m_bar; }
    QString elapsedText() const;
    bool isCancelling() const { return m_cancelling; }

signals:
    // The user asked to cancel (the button, Esc, or closing the dialog and confirming).
    void cancelRequested();
    void percentChanged(int percent);
    void lineChanged(const QString& line);

protected:
    void reject() override; // Esc: as the button
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void requestCancel();
    void showElapsed();

    QLabel* m_title;
    QLabel* m_elapsed;
    QProgressBar* m_bar;
    QPushButton* m_cancel;
    QElapsedTimer m_clock;
    QTimer m_tick;
    bool m_cancelling = false;
};

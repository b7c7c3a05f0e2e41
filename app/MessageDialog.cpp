#include "MessageDialog.h"

#include <QApplication>

#include <QClipboard>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

namespace msgdlg {

namespace {
// As shipped: the English captions. Replaced as a whole through setCaptions().
QString g_types[TypeCount] = {
    QStringLiteral("Warning"), QStringLiteral("Error"), QStringLiteral("Information"),
    QStringLiteral("Confirm"), QString(),
};
QString g_buttons[ButtonCount] = {
    QStringLiteral("&Yes"),    QStringLiteral("&No"),      QStringLiteral("OK"),
    QStringLiteral("Cancel"),  QStringLiteral("&Abort"),   QStringLiteral("&Retry"),
    QStringLiteral("&Ignore"), QStringLiteral("&All"),     QStringLiteral("N&o to All"),
    QStringLiteral("Yes to &All"), QStringLiteral("&Help"),
};

const int kResults[ButtonCount] = {6, 7, 1, 2, 3, 4, 5, 8, 9, 10, 0};

QString withoutMarkers(QString caption) {
    QString out;
    for (int i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && i + 1 < caption.size())
            ++i;
        out += caption[i];
    }
    return out;
}

QStyle::StandardPixmap iconFor(DialogType type) {
    switch (type) {
    case DialogType::Warning:
        return QStyle::SP_MessageBoxWarning;
    case DialogType::Error:
        return QStyle::SP_MessageBoxCritical;
    case DialogType::Information:
        return QStyle::SP_MessageBoxInformation;
    default:
        return QStyle::SP_MessageBoxQuestion;
    }
}
} // namespace

void setCaptions(const QString (&types)[TypeCount], const QString (&buttons)[ButtonCount]) {
    std::copy(std::begin(types), std::end(types), std::begin(g_types));
    std::copy(std::begin(buttons), std::end(buttons), std::begin(g_buttons));
}

QString typeCaption(DialogType type) {
    if (type == DialogType::Custom)
        return QGuiApplication::applicationDisplayName();
    return g_types[int(type)];
}

QString buttonCaption(DialogButton button) {
    return g_buttons[int(button)];
}

int resultOf(DialogButton button) {
    return kResults[int(button)];
}

QString clipboardText(const QString& caption, const QString& message, const DialogButtons& buttons,
                      const QString& statements) {
    const QString line = QString(27, QLatin1Char('-')) + QLatin1String("\r\n");
    QString captions;
    for (DialogButton b : buttons)
        captions += withoutMarkers(buttonCaption(b)) + QLatin1String("   ");
    QString text = line + caption + QLatin1String("\r\n") + line + message + QLatin1String("\r\n") + line +
                   captions + QLatin1String("\r\n") + line;
    if (!statements.isEmpty())
        text += statements + QLatin1String("\r\n") + line;
    return text;
}

QString shownAsIs(const QString& text) {
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\r') || text[i] == QLatin1Char('\n')) {
            out += QLatin1String("<br>");
            if (text[i] == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
            continue;
        }
        if (text[i] == QLatin1Char(' ') && i + 1 < text.size() && text[i + 1] == QLatin1Char(' ')) {
            out += QLatin1String("&nbsp;");
            continue;
        }
        out += QString(text[i]).toHtmlEscaped();
    }
    return out;
}

namespace {
// The monitor of the window the dialog belongs to, else of the active window, else the primary one.
const QScreen* placementScreen(const QWidget* parent) {
    const QWidget* owner = parent ? parent->window() : QApplication::activeWindow();
    if (owner && owner->screen())
        return owner->screen();
    return QGuiApplication::primaryScreen();
}
} // namespace

MessageDialog::MessageDialog(const QString& message, DialogType type, DialogButtons buttons, QWidget* parent,
                             const QString& statements)
    : QDialog(parent), m_message(message), m_statements(statements) {
    std::sort(buttons.begin(), buttons.end());
    buttons.erase(std::unique(buttons.begin(), buttons.end()), buttons.end());
    m_kinds = buttons;
    setWindowTitle(typeCaption(type));
    setModal(true);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    const QFontMetrics fm(font());
    const int dluX = qMax(
        1, fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52);
    const int dluY = fm.height();
    auto horizontal = [dluX](int units) { return units * dluX / 4; };
    auto vertical = [dluY](int units) { return units * dluY / 8; };

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(horizontal(8), vertical(8), horizontal(8), vertical(8));
    outer->setSpacing(vertical(10));
    auto* top = new QHBoxLayout;
    top->setSpacing(horizontal(10));
    if (type != DialogType::Custom) {
        auto* icon = new QLabel(this);
        icon->setObjectName(QStringLiteral("icon"));
        icon->setPixmap(style()->standardIcon(iconFor(type)).pixmap(32, 32));
        icon->setAlignment(Qt::AlignTop);
        top->addWidget(icon, 0, Qt::AlignTop);
    }
    auto* label = new QLabel(shownAsIs(message), this);
    label->setObjectName(QStringLiteral("message"));
    label->setTextFormat(Qt::RichText);
    label->setWordWrap(true);
    const QScreen* screen = placementScreen(parent);
    const int halfScreen = screen ? screen->availableGeometry().width() / 2 : 640;
    label->setMaximumWidth(halfScreen);
    const int natural = fm.horizontalAdvance(message);
    label->setMinimumWidth(qMin(natural + 4, halfScreen));
    top->addWidget(label, 1);
    outer->addLayout(top);

    int buttonWidth = horizontal(50);
    for (DialogButton b : m_kinds)
        buttonWidth = qMax(buttonWidth, fm.horizontalAdvance(withoutMarkers(buttonCaption(b))) + 8);
    auto* row = new QHBoxLayout;
    row->setSpacing(horizontal(4));
    QPushButton* statementsButton = nullptr;
    if (!statements.isEmpty()) {
        // Hidden until asked for: most users decide from the words; an administrator checks or
        // copies the statements. Tab reaches the button, Space shows them, Tab again reaches the text.
        statementsButton = new QPushButton(QStringLiteral("T-SQL"), this);
        statementsButton->setObjectName(QStringLiteral("showStatements"));
        statementsButton->setCheckable(true);
        statementsButton->setAutoDefault(false);
        statementsButton->setToolTip(QStringLiteral("Показати інструкції T-SQL, які буде надіслано серверу"));
        row->addWidget(statementsButton);
        auto* view = new QPlainTextEdit(this);
        view->setObjectName(QStringLiteral("statements"));
        view->setReadOnly(true);
        view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        view->setLineWrapMode(QPlainTextEdit::NoWrap);
        view->setPlainText(statements);
        view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        // Wide enough for the longest statement, up to half the screen; long ones scroll.
        const QFontMetrics fixed(view->font());
        const QStringList lines = statements.split(QLatin1Char('\n'));
        int widest = 0;
        for (const QString& line : lines)
            widest = qMax(widest, fixed.horizontalAdvance(line));
        const int frame = 2 * (view->frameWidth() + int(view->document()->documentMargin())) +
                          style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4;
        const QScreen* on = placementScreen(parent);
        view->setMinimumWidth(qMin(widest + frame, on ? on->availableGeometry().width() / 2 : 640));
        view->setMinimumHeight(qBound(3, int(lines.size()), 12) * fixed.lineSpacing() + frame);
        view->hide();
        m_statementsView = view;
    }
    row->addStretch();
    for (DialogButton b : m_kinds) {
        auto* button = new QPushButton(buttonCaption(b), this);
        button->setFixedSize(buttonWidth, vertical(14));
        button->setAutoDefault(true);
        const int result = resultOf(b);
        if (b != DialogButton::Help)
            connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
        m_buttons.append(button);
        row->addWidget(button);
    }
    row->addStretch();
    outer->addLayout(row);
    if (m_statementsView) {
        outer->addWidget(m_statementsView);
        connect(statementsButton, &QPushButton::toggled, this, [this](bool on) { showStatements(on); });
    }

    // Enter: OK, else Yes, else Retry. Escape: Cancel, else No, else OK.
    for (DialogButton preferred : {DialogButton::OK, DialogButton::Yes, DialogButton::Retry})
        if (QPushButton* b = button(preferred)) {
            b->setDefault(true);
            break;
        }
    for (DialogButton preferred : {DialogButton::Cancel, DialogButton::No, DialogButton::OK})
        if (m_kinds.contains(preferred)) {
            m_escapeResult = resultOf(preferred);
            break;
        }
    if (!m_buttons.isEmpty())
        m_buttons.first()->setFocus();
    adjustSize();
    setFixedSize(sizeHint());
    if (screen) {
        // Centred, and never beyond the monitor's left or top edge (a monitor left of the
        // primary one lies at negative positions, which are its own).
        const QRect area = screen->availableGeometry();
        move(area.x() + qMax(0, (area.width() - width()) / 2),
             area.y() + qMax(0, (area.height() - height()) / 2));
    }
}

void MessageDialog::showStatements(bool shown) {
    m_statementsView->setVisible(shown);
    // The dialog keeps a fixed size; it grows for the statements and shrinks back without them.
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    adjustSize();
    setFixedSize(sizeHint());
}

QPushButton* MessageDialog::button(DialogButton kind) const {
    const int index = m_kinds.indexOf(kind);
    return index < 0 ? nullptr : m_buttons[index];
}

void MessageDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        if (m_escapeResult >= 0)
            done(m_escapeResult);
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        QApplication::beep();
        QGuiApplication::clipboard()->setText(clipboardText(windowTitle(), m_message, m_kinds, m_statements));
        return;
    }
    QDialog::keyPressEvent(event);
}

void MessageDialog::closeEvent(QCloseEvent* event) {
    // The title-bar close box answers 2 whatever the buttons are.
    event->accept();
    setResult(2);
    QDialog::done(2);
}

} // namespace msgdlg

// While the window waits for the server, its own controls are disabled (not its dialogs, which are
// windows of their own), and they and the keyboard focus come back afterwards.
#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

class ControlsDisabled {
public:
    explicit ControlsDisabled(QWidget* window) : m_focus(window->focusWidget()) {
        for (QWidget* child : window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (!child->isWindow() && child->isEnabled()) {
                child->setEnabled(false);
                m_disabled.append(child);
            }
    }
    ~ControlsDisabled() {
        for (const QPointer<QWidget>& child : m_disabled)
            if (child)
                child->setEnabled(true);
        if (m_focus && m_focus->isEnabled())
            m_focus->setFocus();
    }
    ControlsDisabled(const ControlsDisabled&) = delete;
    ControlsDisabled& operator=(const ControlsDisabled&) = delete;

private:
    QList<QPointer<QWidget>> m_disabled;
    QPointer<QWidget> m_focus;
};

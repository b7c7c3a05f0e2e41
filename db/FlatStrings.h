// Many short strings kept in one buffer: thousands of values cost two allocations, not one each.
// Used for the cells of a rowset and for the database list, which may hold thousands of names.
#pragma once

#include <QString>
#include <QStringView>
#include <vector>

class FlatStrings {
public:
    // A string is built from pieces, then closed.
    void appendPiece(const QChar* chars, qsizetype length) { m_chars.append(chars, length); }
    void endString() { m_ends.push_back(m_chars.size()); }
    void append(QStringView text) {
        m_chars.append(text);
        endString();
    }

    qsizetype size() const { return qsizetype(m_ends.size()); }
    bool isEmpty() const { return m_ends.empty(); }
    // Valid until the next change.
    QStringView at(qsizetype index) const {
        const qsizetype begin = index == 0 ? 0 : m_ends[size_t(index - 1)];
        return QStringView(m_chars).mid(begin, m_ends[size_t(index)] - begin);
    }
    void clear() {
        m_chars.clear();
        m_ends.clear();
    }

private:
    QString m_chars;
    std::vector<qsizetype> m_ends; // where each string ends in m_chars
};

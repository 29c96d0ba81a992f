#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QMessageBox;

// Messages shown one box at a time, not modal: one that comes while a box is open waits until
// the user closes that box, so no message opens behind another (the new box would take the
// place and focus of the one still unread). The open box is this object's.
class MessageBoxQueue : public QObject {
public:
    MessageBoxQueue() = default;
    ~MessageBoxQueue() override;

    // `text` is shown as plain text; `warning` gives it the warning icon.
    void tell(const QString& text, bool warning);
    // The box open now, if any.
    QMessageBox* open() const { return open_; }

private:
    void showNext();

    struct Message {
        QString text;
        bool warning = false;
    };
    QList<Message> waiting_;
    QPointer<QMessageBox> open_;
};

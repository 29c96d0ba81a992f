#include "ui/zip_preview/message_box_queue.h"

#include <QMessageBox>

#include "ui/language/plain_text.h"

MessageBoxQueue::~MessageBoxQueue() {
    delete open_.data();
}

void MessageBoxQueue::tell(const QString& text, bool warning) {
    waiting_.append({text, warning});
    if (open_.isNull()) {
        showNext();
    }
}

void MessageBoxQueue::showNext() {
    if (waiting_.isEmpty()) {
        return;
    }
    const Message next = waiting_.takeFirst();
    // The text may hold a server's reason or an archive's member names.
    QMessageBox* box = NewMessageBox(next.warning ? QMessageBox::Warning : QMessageBox::Information,
                                     next.text, QMessageBox::Ok, nullptr);
    box->setAttribute(Qt::WA_DeleteOnClose);
    open_ = box;
    connect(box, &QMessageBox::finished, this, [this, box] {
        if (open_ == box) {
            open_ = nullptr;
            showNext();
        }
    });
    box->show();
}

// Several addresses at once: the usable lines of the add dialog, and the lines
// of a list file chosen with "Import list..." (dropped files are the drop's).

#include <QFileDialog>
#include <QFileInfo>

#include "core/diagnostics/log_categories.h"
#include "core/urls/address_lines.h"
#include "core/urls/parse_url.h"
#include "engine/queue/add_download.h"
#include "ui/language/plain_text.h"
#include "ui/main_window/kestor.h"

void Kestor::addAnswer(const NewDownloadAnswer& answer) {
    for (const QString& url : answer.urls) {
        // An address adding cannot take is still handed over: its message tells
        // the user why nothing was added.
        qCInfo(lcUi).noquote() << "new download:" << UrlForDisplay(url) << answer.word;
        AddRequest request;
        request.url = url;
        request.deferFlag = answer.word == QLatin1String("LATER") ? -1 : 0;
        request.user = answer.user;
        request.password = answer.password;
        request.checksum = answer.checksum;  // the dialog gives one only with a single address
        offerOrAdd(request);
    }
}

void Kestor::importList() {
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Import a list of addresses"), QString(),
                                     tr("Lists of addresses (*.txt *.lst *.list);;All files (*)"));
    if (!path.isEmpty()) {
        importFile(path);
    }
}

void Kestor::importFile(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    AddressLines lines;
    QString error;
    if (!ReadAddressFile(path, lines, error)) {
        if (errorMessage_) {
            errorMessage_(tr("%1 was not imported: %2").arg(name, error));
        }
        return;
    }
    qCInfo(lcUi) << "import:" << lines.usable.size() << "addresses," << lines.refused.size()
                 << "other lines";
    for (const QString& url : lines.usable) {
        AddRequest request;
        request.url = url;
        add(request);
    }
    if (lines.refused.isEmpty() && !lines.usable.isEmpty()) {
        return;
    }
    // Not modal: the added downloads go on while it is read.
    QString text = tr("%1: addresses added: %2.").arg(name).arg(lines.usable.size());
    if (!lines.refused.isEmpty()) {
        text += u' ' + tr("Lines skipped that are not addresses: %1 (the first: %2).")
                           .arg(lines.refused.size())
                           .arg(ShortenedInTheMiddle(lines.refused.first().line, 90));
    }
    QMessageBox* box = NewMessageBox(QMessageBox::Information, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

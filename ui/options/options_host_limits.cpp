// The connection page's list of servers that took fewer connections than asked, and the button
// that forgets them, so that the next download from each asks for the full number again.
#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/settings/host_limits.h"
#include "core/text/text_table.h"
#include "ui/language/apply_language.h"
#include "ui/options/options_window.h"

QGroupBox* Options::hostLimitsFrame() {
    auto* frame = new QGroupBox(QStringLiteral("Servers that took fewer connections"));
    frame->setObjectName(QStringLiteral("FrameHosts"));
    SetTag(frame, 1320);
    ListHosts = new QListWidget;
    ListHosts->setObjectName(QStringLiteral("ListHosts"));
    // A few rows show; more scroll.
    ListHosts->setMaximumHeight(ListHosts->fontMetrics().height() * 6);
    CommandForget = new QPushButton(QStringLiteral("&Forget them"));
    CommandForget->setObjectName(QStringLiteral("CommandForget"));
    SetTag(CommandForget, 1322);
    connect(CommandForget, &QPushButton::clicked, this, &Options::CommandForget_Click);
    auto* layout = new QVBoxLayout(frame);
    layout->addWidget(ListHosts);
    layout->addWidget(CommandForget, 0, Qt::AlignLeft);
    return frame;
}

void Options::showHostLimits() {
    ListHosts->clear();
    const QList<HostLimits::Remembered> hosts = ctx_.hostLimits != nullptr
                                                    ? ctx_.hostLimits->remembered()
                                                    : QList<HostLimits::Remembered>{};
    for (const HostLimits::Remembered& host : hosts) {
        ListHosts->addItem(host.limit == 1
                               ? ctx_.texts.text(1325).arg(host.server)
                               : ctx_.texts.text(1321).arg(host.server).arg(host.limit));
    }
    if (hosts.isEmpty()) {
        ListHosts->addItem(ctx_.texts.text(1323));
    }
    ListHosts->setEnabled(!hosts.isEmpty());
    CommandForget->setEnabled(!hosts.isEmpty());
}

void Options::CommandForget_Click() {
    if (ctx_.hostLimits == nullptr) {
        return;
    }
    // At once, not with OK: the file is the servers' record, not a setting.
    if (const QString failed = ctx_.hostLimits->forgetAll(); !failed.isEmpty()) {
        message_(ctx_.texts.text(1324) + u' ' + failed, QMessageBox::Warning);
    }
    showHostLimits();
}

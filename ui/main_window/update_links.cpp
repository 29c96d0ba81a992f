#include "ui/main_window/update_links.h"

#include <QBoxLayout>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>

#include "core/diagnostics/log_categories.h"
#include "core/text/text_table.h"
#include "engine/engine_context.h"
#include "engine/queue/add_download.h"
#include "engine/session/failure_words.h"
#include "ui/language/apply_language.h"
#include "update/update_check.h"
#include "update/version_file.h"

namespace {

const QString kConnecting = QStringLiteral("CONN");
// A check that failed: its caption says why, and a click asks again.
const QString kFailed = QStringLiteral("FAIL");

const QColor kLinkBlue(0, 0, 255);
const QColor kLinkNavy(0, 0, 128);

QLabel* Link(const char* name, const char* caption, int tag) {
    auto* label = new QLabel(QLatin1String(caption));
    label->setObjectName(QLatin1String(name));
    label->setCursor(Qt::PointingHandCursor);
    SetTag(label, tag);
    return label;
}

bool Asked(const QLabel* label) {
    return label->property(TagProperty).toString() == kConnecting;
}

void ShowLinkHover(QLabel* label, bool hover) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, hover ? kLinkNavy : kLinkBlue);
    label->setPalette(palette);
    QFont font = label->font();
    font.setUnderline(hover);
    label->setFont(font);
}

}  // namespace

UpdateLinks::UpdateLinks(EngineContext& context, Ask ask, Add add, OpenBrowser openBrowser,
                         QWidget* parent)
    : QWidget(parent),
      ctx_(context),
      ask_(std::move(ask)),
      add_(std::move(add)),
      openBrowser_(std::move(openBrowser)),
      updateServer_(ConfiguredUpdateServer()) {
    setObjectName(QStringLiteral("Links"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(16);
    Label7 = Link("Label7", "Auto update Brenloft", 270);
    Label2 = Link("Label2", "Visit Brenloft website ", 271);
    for (QLabel* label : {Label7, Label2}) {
        ShowLinkHover(label, false);
        label->installEventFilter(this);
        row->addWidget(label);
    }
}

UpdateLinks::~UpdateLinks() = default;

void UpdateLinks::rest() {
    ShowLinkHover(Label7, false);
    ShowLinkHover(Label2, false);
}

bool UpdateLinks::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == Label2 || watched == Label7) {
        auto* label = static_cast<QLabel*>(watched);
        if (type == QEvent::Enter || type == QEvent::MouseMove) {
            // A check that has begun is no link any more.
            if (label == Label2 || !Asked(Label7)) {
                ShowLinkHover(label, true);
                emit hint(ctx_.texts.text(label == Label2 ? 664 : 665));
            }
        } else if (type == QEvent::Leave) {
            ShowLinkHover(label, false);
        } else if (type == QEvent::MouseButtonRelease &&
                   static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
                   label->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
            if (label == Label7) {
                Label7_Click();
            } else {
                Label2_Click();
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void UpdateLinks::Label7_Click() {
    if (Asked(Label7)) {
        return;
    }
    // From now on the caption tells the check's state, whatever the language.
    Label7->setText(ctx_.texts.text(685));
    Label7->setProperty(TagProperty, kConnecting);
    ShowLinkHover(Label7, false);
    Label7->setCursor(Qt::ArrowCursor);
    qCInfo(lcUi).noquote() << "update check:" << updateServer_.url(QLatin1String(VersionFilePath));
    updateCheck_ = std::make_unique<UpdateCheck>(ctx_.sockets, ctx_.settings, updateServer_,
                                                 nullptr, ctx_.proxyResolver);
    updateCheck_->setTimeLimit(updateTimeLimit_);
    connect(updateCheck_.get(), &UpdateCheck::sending, this,
            [this] { Label7->setText(ctx_.texts.text(900)); });
    connect(updateCheck_.get(), &UpdateCheck::finished, this, &UpdateLinks::updateCheckFinished);
    updateCheck_->Start();
}

void UpdateLinks::updateCheckFailed(const QString& caption) {
    Label7->setText(caption);
    Label7->setProperty(TagProperty, kFailed);
    Label7->setCursor(Qt::PointingHandCursor);
}

void UpdateLinks::updateCheckFinished(const UpdateCheckResult& result) {
    switch (result.kind) {
        case UpdateCheckResult::Kind::NoAnswer:
            qCInfo(lcUi).noquote() << "update check: no answer:" << result.why;
            updateCheckFailed(
                result.timedOut ? ctx_.texts.text(1201)
                                : ctx_.texts.text(1202).arg(FailureReason(result.why, ctx_.texts)));
            return;
        case UpdateCheckResult::Kind::Refused:
            updateCheckFailed(ctx_.texts.text(1200).arg(result.status));
            return;
        case UpdateCheckResult::Kind::UpToDate:
            Label7->setText(ctx_.texts.text(684));
            return;
        case UpdateCheckResult::Kind::Newer:
            break;
    }
    Label7->setText(ctx_.texts.text(682));
    QString question = ctx_.texts.text(683);
    if (!result.file.notes.isEmpty()) {
        question += QStringLiteral("\n\n") + result.file.notes;
    }
    if (!ask_(question, QStringLiteral("Brenloft"))) {
        qCInfo(lcUi) << "update check: declined";
        return;
    }
    AddRequest request;
    request.url = result.packageUrl;
    request.updateFlag = -1;
    add_(request);
}

void UpdateLinks::Label2_Click() {
    if (openBrowser_) {
        openBrowser_(updateServer_.url(QLatin1String(WebPagePath)));
    }
}

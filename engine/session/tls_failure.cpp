#include "engine/session/tls_failure.h"

#include <QPointer>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/settings/trusted_certificates.h"
#include "core/text/text_table.h"
#include "engine/session/download_session.h"
#include "engine/session/failure_words.h"
#include "engine/session/session_log.h"
#include "engine/session/session_prompts.h"

namespace {

// The reasons' words in the language files, in the order of TlsFailure::Reason from Expired.
constexpr int kFirstReasonText = 820;
constexpr int kFailedText = 830;       // "The secure connection to %1 failed: %2"
constexpr int kTrustText = 831;        // the question, naming the host
constexpr int kTrustSavedText = 832;   // the choice holds for this run only
constexpr int kFingerprintText = 833;  // above the fingerprint

}  // namespace

QString TlsFailureWords(const TextTable& texts, const TlsFailure& failure, const QString& host) {
    const QString english = TlsFailureText(failure, host);
    const int number = kFirstReasonText + static_cast<int>(failure.reason) -
                       static_cast<int>(TlsFailure::Reason::Expired);
    const QString words = texts.text(number);
    if (words.isEmpty()) {
        return english;
    }
    return words.contains(QLatin1String("%2")) ? words.arg(host, failure.detail) : words.arg(host);
}

QString TlsTrustQuestion(const TextTable& texts, const QString& why, const QString& host,
                         const QByteArray& fingerprint) {
    // The fingerprint in two lines of 16 bytes, so the window stays narrow enough to read.
    const QString print = FingerprintText(fingerprint);
    return why + QStringLiteral("\n\n") +
           Worded(texts, kTrustText,
                  QStringLiteral("Do you want to trust this certificate for %1 from now on? Do so "
                                 "only if you know why it does not verify."))
               .arg(host) +
           QStringLiteral("\n\n") +
           Worded(texts, kFingerprintText, QStringLiteral("Its SHA-256 fingerprint:")) + u'\n' +
           print.left(47) + u'\n' + print.mid(48);
}

// A certificate that does not verify verifies no better on the next attempt: the probe ends
// at once and the user learns which server and why.
void DownloadSession::tlsFailed(const QString& problem, const TlsFailure& cause,
                                const QByteArray& fingerprint) {
    // Paused or cancelled meanwhile: nothing is left to end.
    if (probeState_ != ProbeState::RetryPending) {
        return;
    }
    const DownloadRecord* r = record();
    const QString host = r != nullptr ? r->HostName : QString();
    QString words = cause.failed() ? TlsFailureWords(core_.ctx.texts, cause, host) : problem;
    if (words.isEmpty()) {
        words = QStringLiteral("the handshake did not complete");
    }
    const QString why = Worded(core_.ctx.texts, kFailedText,
                               QStringLiteral("The secure connection to %1 failed: %2"))
                            .arg(host, words);
    certificateRefused_ = cause.certificate();
    if (cause.certificate() && !fingerprint.isEmpty() && core_.ctx.trustCertificate) {
        askToTrust(host, fingerprint, why);
        return;
    }
    endTlsFailed(why, true);
}

void DownloadSession::askToTrust(const QString& host, const QByteArray& fingerprint,
                                 const QString& why) {
    const QString question = TlsTrustQuestion(core_.ctx.texts, why, host, fingerprint);
    QPointer<DownloadSession> self(this);
    core_.ctx.prompts.askYesNo(
        question,
        [self, host, fingerprint, why](bool yes) {
            // Paused, cancelled or gone while the question was open: the answer is not needed.
            if (!self || self->probeState_ != ProbeState::RetryPending) {
                return;
            }
            if (!yes) {
                self->endTlsFailed(why, false);
                return;
            }
            qCInfo(lcEngine).noquote()
                << ProbeTag(self->RecordIndex) << "the user trusts the certificate of" << host
                << "(" << FingerprintText(fingerprint) << "); connecting again";
            const QString notSaved = self->core_.ctx.trustCertificate(host, fingerprint);
            if (!notSaved.isEmpty()) {
                self->core_.ctx.prompts.showMessage(
                    Worded(self->core_.ctx.texts, kTrustSavedText,
                           QStringLiteral("The certificate is trusted until Brenloft ends, but it "
                                          "could not be remembered: %1"))
                        .arg(notSaved),
                    SessionPrompts::Icon::Warning);
            }
            self->probeState_ = ProbeState::Idle;
            self->InitConnection();
        },
        SessionPrompts::Preferred::No);
}

void DownloadSession::endTlsFailed(const QString& why, bool tellUser) {
    if (probeState_ != ProbeState::RetryPending) {
        return;
    }
    qCInfo(lcEngine).noquote() << ProbeTag(RecordIndex) << "no retry:" << why;
    endProbe();
    if (DownloadRecord* r = record()) {
        MarkFailed(*r, FailureCodeFor(why));
    }
    if (tellUser) {
        core_.ctx.prompts.showMessage(why, SessionPrompts::Icon::Critical);
    }
    closeWith(why);
}

// Downloads end to end through the session, against a real nginx on loopback: sizes and
// segment plans, servers without ranges, redirects, logins, server-given names, web pages,
// error answers, pause and resume (during the probe too), continuing from a saved list, IPv6 and
// names with several addresses; the same over TLS, and certificates the user chooses to trust.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimeZone>
#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <optional>

#include "core/download_list/resume_rebase.h"
#include "core/download_list/site_logins.h"
#include "core/settings/trusted_certificates.h"
#include "core/types/tick.h"
#include "engine/session/failure_words.h"
#include "engine/session/segment_plan.h"
#include "net/host_resolver.h"
#include "net/winsock_errors.h"
#include "tests/engine/download_session_test_harness.h"
#include "tests/support/http_fault_server.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/test_certificates.h"

using namespace session_test;

namespace {

const std::vector<qsizetype> Sizes = {0, 1, 49999, 50000, 299999, 300000, 1000003};

// Source files, made once for the whole binary so every case downloads the same bytes.
const QByteArray& Content(qsizetype size) {
    static std::map<qsizetype, QByteArray> made;
    auto it = made.find(size);
    if (it == made.end()) {
        it = made.emplace(size, RandomBytes(size)).first;
    }
    return it->second;
}

QString SizedName(qsizetype size) {
    return QStringLiteral("f%1.bin").arg(size);
}

// The planning rules: 1 segment below 50,000 bytes, 2 below 300,000, else 8; never more than
// the setting allows.
int ExpectedSegments(qsizetype size, int maxSegments) {
    const int byRule = size < 50000 ? 1 : size < 300000 ? 2 : 8;
    return std::min(byRule, maxSegments);
}

// The plan covers the file from byte 0 without gap or overlap; all segments but the first have
// the same length and the first takes what the division leaves over.
void ExpectPlanCovers(const DownloadRecord& r, qsizetype size) {
    SCOPED_TRACE(Ranges(r).join(u' ').toStdString());
    ASSERT_GE(r.SegmentCount, 1);
    std::int64_t next = 0;
    for (int j = 1; j <= r.SegmentCount; ++j) {
        const SegmentRecord& s = *r.Segments.at(j);
        const std::int64_t first = s.EndPos.bytes() - s.Length.bytes() + 1;
        EXPECT_EQ(first, next) << "segment " << j;
        next = s.EndPos.bytes() + 1;
        EXPECT_EQ(s.InPlan, FlagTrue);
        EXPECT_EQ(s.Watched, FlagTrue);
        if (j >= 2) {
            EXPECT_EQ(s.Length.bytes(), size / r.SegmentCount) << "segment " << j;
        }
    }
    EXPECT_EQ(next, size);
    const std::int64_t leftOver = r.Segments.at(1)->Length.bytes() - size / r.SegmentCount;
    EXPECT_GE(leftOver, 0);
    EXPECT_LT(leftOver, r.SegmentCount);
}

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        served = box.file(QStringLiteral("served"));
        ASSERT_TRUE(QDir().mkpath(served));
    }

    QString serve(const QString& name, const QByteArray& bytes) {
        const QString path = served + u'/' + name;
        EXPECT_TRUE(WriteFile(path, bytes)) << path.toStdString();
        return path;
    }

    void startNginx(NginxPeer& nginx) { ASSERT_TRUE(nginx.start()) << nginx.error().toStdString(); }

    // Made once for the binary: openssl takes a while.
    static const Certificates& certificates() {
        static const Certificates* made = [] {
            auto* c = new Certificates;
            EXPECT_TRUE(c->make()) << c->problem.toStdString();
            return c;
        }();
        return *made;
    }
    // nginx serves TLS with `certificate` (the test CA's good one by default) and the engine
    // trusts the test CA.
    static void serveTls(NginxPeer& nginx, const char* certificate = "good.pem") {
        nginx.setTls(certificates().file(QString::fromLatin1(certificate)),
                     certificates().file(QStringLiteral("server.key")));
    }
    static void trustTestCa(Engine& engine) {
        engine.sockets.setTlsCaFile(certificates().file(QStringLiteral("ca.pem")));
    }

    Sandbox box;
    QString served;
};

// Over plain HTTP and over TLS.
class OverTls : public SessionTest, public ::testing::WithParamInterface<bool> {};
std::string TransportName(const ::testing::TestParamInfo<bool>& info) {
    return info.param ? "Tls" : "Plain";
}

class SizesAndPlans : public SessionTest,
                      public ::testing::WithParamInterface<std::tuple<int, bool>> {};

}  // namespace

// Every size at once on one engine: each file arrives byte for byte under its own name, with
// the plan the rules give, and leaves no part file behind.
TEST_P(SizesAndPlans, EverySizeArrivesWhole) {
    const auto [maxSegments, tls] = GetParam();
    for (const qsizetype size : Sizes) {
        serve(SizedName(size), Content(size));
    }
    NginxPeer nginx(served);
    if (tls) {
        serveTls(nginx);
    }
    startNginx(nginx);
    Engine engine(box.path());
    trustTestCa(engine);
    engine.settings.MaxSegments = maxSegments;

    std::vector<Download*> downloads;
    for (const qsizetype size : Sizes) {
        downloads.push_back(&engine.fetch(nginx.url(u'/' + SizedName(size))));
    }
    ASSERT_TRUE(WaitClosed(downloads));

    for (std::size_t i = 0; i < Sizes.size(); ++i) {
        const qsizetype size = Sizes[i];
        SCOPED_TRACE(QStringLiteral("%1 bytes, at most %2 segments")
                         .arg(size)
                         .arg(maxSegments)
                         .toStdString());
        const Download& d = *downloads[i];
        const DownloadRecord& r = engine.record(d);
        EXPECT_TRUE(d.observer.finished) << d.observer.whys.join(u'|').toStdString();
        EXPECT_EQ(d.observer.closes, 1);
        EXPECT_EQ(StateOf(r), ListEntryState::Finished);
        EXPECT_EQ(r.FileSize.bytes(), size);
        EXPECT_EQ(r.BytesDone.bytes(), size);
        EXPECT_EQ(r.SavePath, engine.downloads() + SizedName(size));
        EXPECT_EQ(FileSha256(r.SavePath), Sha256(Content(size)));
        if (size > 0) {
            EXPECT_EQ(r.RangesSupported, FlagTrue);
        }

        EXPECT_EQ(r.SegmentCount, ExpectedSegments(size, maxSegments));
        ExpectPlanCovers(r, size);
        QStringList parts;
        for (int j = 1; j <= r.SegmentCount; ++j) {
            const SegmentRecord& s = *r.Segments.at(j);
            EXPECT_EQ(s.State, SegmentState::Complete) << "segment " << j;
            EXPECT_EQ((s.Done + s.Received).bytes(), s.Length.bytes()) << "segment " << j;
            EXPECT_TRUE(s.PartFile.startsWith(engine.temp() + SizedName(size)))
                << s.PartFile.toStdString();
            EXPECT_TRUE(s.PartFile.endsWith(QStringLiteral(".tmp"))) << s.PartFile.toStdString();
            parts << s.PartFile;
        }
        parts.removeDuplicates();
        EXPECT_EQ(parts.size(), 1) << "the segments write into one part file";
    }
    // The worked example of the rules: 1,000,003 bytes in four.
    if (maxSegments == 4) {
        EXPECT_EQ(Ranges(engine.record(*downloads.back())),
                  (QStringList{"0-250002", "250003-500002", "500003-750002", "750003-1000002"}));
    }
    EXPECT_EQ(FolderEntries(engine.temp()), QStringList{}) << "part files are removed";
    EXPECT_EQ(FolderEntries(engine.downloads()).size(), qsizetype(Sizes.size()));
    EXPECT_EQ(engine.prompts.messages, QStringList{});
}

INSTANTIATE_TEST_SUITE_P(MaxSegments, SizesAndPlans,
                         ::testing::Combine(::testing::Values(1, 4, 8), ::testing::Bool()),
                         [](const auto& info) {
                             return "At" + std::to_string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "OverTls" : "");
                         });

// A server that answers every range with the whole file gets one connection, and the file
// still arrives whole.
TEST_F(SessionTest, ServerWithoutRangesGetsOneSegment) {
    const QByteArray& data = Content(1000003);
    serve(QStringLiteral("whole.bin"), data);
    NginxPeer nginx(served);
    nginx.addNoRangesLocation(QStringLiteral("/noranges/"));
    startNginx(nginx);
    Engine engine(box.path());
    engine.settings.MaxSegments = 8;

    Download& d = engine.fetch(nginx.url(QStringLiteral("/noranges/whole.bin")));
    ASSERT_TRUE(WaitClosed({&d}));
    const DownloadRecord& r = engine.record(d);
    EXPECT_TRUE(d.observer.finished) << d.observer.whys.join(u'|').toStdString();
    EXPECT_EQ(r.RangesSupported, FlagFalse);
    EXPECT_EQ(r.SegmentCount, 1);
    EXPECT_EQ(d.observer.planned, std::vector<int>{1});
    EXPECT_EQ(Ranges(r), QStringList{"0-1000002"});
    EXPECT_EQ(FileSha256(r.SavePath), Sha256(data));
    EXPECT_EQ(FolderEntries(engine.temp()), QStringList{});
}

// An IPv6 address in brackets is connected without a look-up; a name is tried at each of its
// addresses, IPv6 first, until one answers. Every connection of the download goes that way.
TEST_F(SessionTest, IPv6AddressesAndNamesWhoseFirstAddressIsDead) {
    NginxPeer nginx(served);
    nginx.listenOnIPv6();
    startNginx(nginx);
    Engine engine(box.path());
    engine.settings.MaxSegments = 8;
    const struct {
        const char* host;   // as the address names it and the entry keeps it
        QStringList found;  // the look-up's answer; empty: none is asked
    } cases[] = {
        {"[::1]", {}},
        {"files.test", {"127.0.0.2", "127.0.0.1"}},  // nothing behind the first
        {"files.test", {"127.0.0.1", "::1"}},
    };
    for (const auto& c : cases) {
        auto asked = std::make_shared<std::atomic<int>>(0);
        engine.sockets.setLookup([asked, found = c.found](const QString&, int) {
            ++*asked;
            HostAddresses answer;
            for (const QString& text : found) {  // numeric: no name server is asked
                answer.addresses.push_back(SystemLookup(text, AF_UNSPEC).addresses.at(0));
            }
            return answer;
        });
        SCOPED_TRACE(c.found.join(u' ').toStdString());
        const QString file = QStringLiteral("dual%1.bin").arg(&c - cases);
        serve(file, Content(1000003));
        Download& d = engine.fetch(QStringLiteral("http://%1:%2/%3")
                                       .arg(QLatin1String(c.host))
                                       .arg(nginx.port())
                                       .arg(file));
        ASSERT_TRUE(WaitClosed({&d}));
        const DownloadRecord& r = engine.record(d);
        EXPECT_TRUE(d.observer.finished) << d.observer.whys.join(u'|').toStdString();
        EXPECT_EQ(r.SegmentCount, 8);
        EXPECT_EQ(FileSha256(r.SavePath), Sha256(Content(1000003)));
        EXPECT_EQ(asked->load() > 0, !c.found.isEmpty());
        EXPECT_EQ(HostInUrl(r.HostName), QLatin1String(c.host));
    }
}

// A redirect to another port goes there with the old address as referer (the second server
// refuses any request without it), and a relative one resolves against the old address.
TEST_F(SessionTest, RedirectsToAnotherPortAndRelative) {
    const QByteArray far = Content(1000003);
    const QByteArray near = Content(299999);
    serve(QStringLiteral("far.bin"), far);
    serve(QStringLiteral("near.bin"), near);

    NginxPeer other(served);
    other.addLocation(QStringLiteral("location /referred/ { alias \"%1/\"; "
                                     "if ($http_referer !~ \"^http://127\\.0\\.0\\.1:[0-9]+/$\") "
                                     "{ return 403; } }")
                          .arg(served));
    startNginx(other);
    NginxPeer nginx(served);
    nginx.addRedirect(QStringLiteral("/moved.bin"), other.url(QStringLiteral("/referred/far.bin")));
    nginx.addRedirect(QStringLiteral("/deep/er/old.bin"), QStringLiteral("../../near.bin"));
    startNginx(nginx);
    Engine engine(box.path());
    engine.settings.MaxSegments = 8;

    const QString movedUrl = nginx.url(QStringLiteral("/moved.bin"));
    const QString relativeUrl = nginx.url(QStringLiteral("/deep/er/old.bin"));
    Download& moved = engine.fetch(movedUrl);
    Download& relative = engine.fetch(relativeUrl);
    ASSERT_TRUE(WaitClosed({&moved, &relative}));

    const DownloadRecord& m = engine.record(moved);
    EXPECT_TRUE(moved.observer.finished) << moved.observer.whys.join(u'|').toStdString();
    EXPECT_EQ(m.Port, other.port());
    EXPECT_EQ(m.Url, other.url(QStringLiteral("/referred/far.bin")));
    EXPECT_EQ(m.Referer, nginx.url(QStringLiteral("/")));  // another origin: that alone
    EXPECT_EQ(m.FileName, QStringLiteral("far.bin"));
    EXPECT_EQ(m.SegmentCount, 8) << "every segment got its range from the second server";
    EXPECT_EQ(m.SavePath, engine.downloads() + QStringLiteral("far.bin"));
    EXPECT_EQ(FileSha256(m.SavePath), Sha256(far));

    const DownloadRecord& r = engine.record(relative);
    EXPECT_TRUE(relative.observer.finished) << relative.observer.whys.join(u'|').toStdString();
    EXPECT_EQ(r.Port, nginx.port());
    EXPECT_EQ(r.UrlPath, QStringLiteral("/near.bin"));
    EXPECT_EQ(r.Url, nginx.url(QStringLiteral("/near.bin")));
    EXPECT_EQ(r.Referer, relativeUrl);
    EXPECT_EQ(r.SavePath, engine.downloads() + QStringLiteral("near.bin"));
    EXPECT_EQ(FileSha256(r.SavePath), Sha256(near));
    EXPECT_EQ(engine.prompts.messages, QStringList{});

    // The second server's guard is real: without the referer it refuses.
    Download& direct = engine.fetch(other.url(QStringLiteral("/referred/far.bin")));
    ASSERT_TRUE(WaitClosed({&direct}));
    EXPECT_FALSE(direct.observer.finished);
    EXPECT_TRUE(direct.observer.whys.value(0).contains(QStringLiteral("403")))
        << direct.observer.whys.join(u'|').toStdString();
}

// Redirects that cannot be followed end the download with a message: one to a scheme that is
// not http:// or ftp://, and one that never stops redirecting.
TEST_F(SessionTest, RedirectsThatCannotBeFollowedEndTheDownload) {
    NginxPeer nginx(served);
    nginx.addRedirect(QStringLiteral("/elsewhere.bin"), QStringLiteral("gopher://127.0.0.1/x"));
    nginx.addRedirect(QStringLiteral("/loop.bin"), QStringLiteral("/loop.bin"));
    startNginx(nginx);
    Engine engine(box.path());

    Download& elsewhere = engine.fetch(nginx.url(QStringLiteral("/elsewhere.bin")));
    Download& loop = engine.fetch(nginx.url(QStringLiteral("/loop.bin")));
    ASSERT_TRUE(WaitClosed({&elsewhere, &loop}));
    for (const Download* d : {&elsewhere, &loop}) {
        EXPECT_FALSE(d->observer.finished);
        EXPECT_EQ(d->observer.closes, 1);
        EXPECT_EQ(StateOf(engine.record(*d)), ListEntryState::Failed);
        EXPECT_EQ(engine.record(*d).SegmentCount, 0);
    }
    EXPECT_EQ(engine.prompts.messages.size(), 2)
        << engine.prompts.messages.join(u'|').toStdString();
    EXPECT_TRUE(elsewhere.observer.whys.value(0).contains(QStringLiteral("gopher://127.0.0.1/x")));
    EXPECT_EQ(FolderEntries(engine.downloads()), QStringList{});
}

// A TLS failure of the probe (a certificate that does not verify) ends the download at once with
// one message naming the host: no retries, no "connection refused". The failure is raised as
// the socket layer raises it, before the probe's connection has done anything else.
TEST_F(SessionTest, TlsFailureEndsTheProbeAtOnceNamingTheHost) {
    NginxPeer nginx(served);
    startNginx(nginx);
    Engine engine(box.path());

    Download& d = engine.fetch(QStringLiteral("https://127.0.0.1:%1/secure.bin").arg(nginx.port()));
    d.session->sockGlobal_Error(nullptr, WinSock::TlsFailed);
    ASSERT_TRUE(WaitClosed({&d}));
    const DownloadRecord& r = engine.record(d);
    EXPECT_EQ(d.observer.closes, 1);
    EXPECT_FALSE(d.observer.finished);
    EXPECT_EQ(StateOf(r), ListEntryState::Failed);
    EXPECT_EQ(r.RetryCount, 0) << "a certificate problem does not go away by asking again";
    ASSERT_EQ(engine.prompts.messages.size(), 1);
    const QString message = engine.prompts.messages.first();
    EXPECT_TRUE(message.contains(QStringLiteral("secure connection to 127.0.0.1 failed: ")))
        << message.toStdString();
    EXPECT_FALSE(message.contains(QStringLiteral("refused"))) << message.toStdString();
    EXPECT_EQ(d.observer.whys, QStringList{message});
    EXPECT_EQ(d.session->lastProblem(), message);
    EXPECT_EQ(d.session->lastProbeError(), WinSock::TlsFailed);
    EXPECT_EQ(FolderEntries(engine.downloads()), QStringList{});
}

// A certificate that does not verify may be trusted for its host: the question names the host,
// why, and the fingerprint; yes fetches the file and remembers the fingerprint (in an owner-only
// file), which the host's next downloads use without asking; a changed certificate is asked
// about again, and no ends the download without another word. Where nobody can be asked, the
// certificate is refused with a message that says why.
TEST_F(SessionTest, CertificatesTheUserTrustsAreAcceptedForTheirHostOnly) {
    const QByteArray& data = Content(300000);
    serve(QStringLiteral("data.bin"), data);
    Engine engine(box.path());
    trustTestCa(engine);
    const QString trusted = box.file(QLatin1String(TrustedCertificatesFileName));
    engine.ctx.trustCertificate = [&](const QString& host, const QByteArray& fingerprint) {
        engine.sockets.trustTlsCertificate(host, fingerprint);
        return RememberTrustedCertificate(trusted, host, fingerprint);
    };
    const struct {
        const char* certificate;
        std::optional<bool> answer;  // none: not asked
        const char* reason;          // in the question
    } steps[] = {
        {"self-signed.pem", true, "self-signed"},
        {"self-signed.pem", std::nullopt, ""},
        {"unknown-ca.pem", false, "unknown authority"},
        {"expired.pem", true, "has expired"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.certificate);
        NginxPeer nginx(served);
        serveTls(nginx, step.certificate);
        startNginx(nginx);
        const qsizetype asked = engine.prompts.questions.size();
        if (step.answer) {
            engine.prompts.yesNo.push_back(*step.answer);
        }
        Download& d = engine.fetch(nginx.url(QStringLiteral("/data.bin")));
        ASSERT_TRUE(WaitClosed({&d}));
        const DownloadRecord& r = engine.record(d);
        ASSERT_EQ(engine.prompts.questions.size() - asked, step.answer ? 1 : 0);
        if (step.answer) {
            const QString question = engine.prompts.questions.last();
            const QString print = FingerprintText(QByteArray::fromHex(
                certificates().fingerprint(QString::fromLatin1(step.certificate))));
            EXPECT_TRUE(question.contains(QStringLiteral("secure connection to 127.0.0.1 failed")))
                << question.toStdString();
            EXPECT_TRUE(question.contains(QString::fromLatin1(step.reason)))
                << question.toStdString();
            EXPECT_TRUE(question.contains(print.left(47) + u'\n' + print.mid(48)))
                << question.toStdString();
            EXPECT_EQ(engine.prompts.preferredAnswers.back(), SessionPrompts::Preferred::No)
                << "Enter does not trust a certificate";
        }
        const bool arrives = step.answer.value_or(true);
        EXPECT_EQ(d.observer.finished, arrives) << d.observer.whys.join(u'|').toStdString();
        if (arrives) {
            EXPECT_EQ(FileSha256(r.SavePath), Sha256(data));
        } else {
            EXPECT_EQ(StateOf(r), ListEntryState::Failed);
        }
        EXPECT_EQ(engine.prompts.messages, QStringList{}) << "the question already said why";
    }
    // The last certificate trusted for the host replaced the first.
    const TrustedCertificates remembered = LoadTrustedCertificates(trusted);
    ASSERT_EQ(remembered.size(), 1);
    EXPECT_EQ(remembered[0].first, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(remembered[0].second.toHex(),
              certificates().fingerprint(QStringLiteral("expired.pem")));
    EXPECT_EQ(QFile::permissions(trusted) & QFile::Permissions(0x7077),
              QFile::ReadOwner | QFile::WriteOwner);

    NginxPeer nginx(served);
    serveTls(nginx, "unknown-ca.pem");
    startNginx(nginx);
    Engine unasked(box.path());
    Download& d = unasked.fetch(nginx.url(QStringLiteral("/data.bin")));
    ASSERT_TRUE(WaitClosed({&d}));
    EXPECT_FALSE(d.observer.finished);
    ASSERT_EQ(unasked.prompts.messages.size(), 1);
    EXPECT_TRUE(unasked.prompts.messages[0].contains(QStringLiteral("unknown authority")))
        << unasked.prompts.messages[0].toStdString();
}

// Logins and the Referer across redirects, by what the server a row lands on logs: another host
// (127.0.0.2) or port gets no login and the origin alone as Referer, the same origin the typed
// login and the whole address without it; a login remembered for the first server goes only to
// it, and only when asked.
TEST_F(SessionTest, LoginsAndRefererStayWithTheirOrigin) {
    serve(QStringLiteral("f.bin"), Content(1));
    NginxPeer first(served), second(served);
    second.listenOn(QStringLiteral("127.0.0.2"));
    second.addBasicAuthLocation(QStringLiteral("/locked/"), QStringLiteral("ann"),
                                QStringLiteral("pw"));
    second.logRequestHeaders();
    first.logRequestHeaders();
    startNginx(second);
    // %1 the first server, %2 the second, %3 the second as 127.0.0.2, %4 the first with a login.
    const auto fill = [&](const char* text) {
        const QString one = first.url({}).chopped(1), two = second.url({}).chopped(1);
        const QStringList by = {one, two,
                                QString(two).replace(QStringLiteral(".1:"), QStringLiteral(".2:")),
                                QString(one).replace(0, 7, QStringLiteral("http://ann:pw@"))};
        QString filled = QString::fromLatin1(text);
        for (qsizetype i = 0; i < by.size(); ++i) {
            filled.replace(u'%' + QString::number(i + 1), by[i]);
        }
        return filled;
    };
    const struct {
        const char* start;  // the first server redirects its path to `to`
        const char* to;
        NginxPeer& lands;
        const char* refererAndLogin;
    } rows[] = {
        {"%4/a", "%3/f.bin?a", second, "%1/|"},
        {"%4/b", "%2/f.bin?b", second, "%1/|"},
        {"%1/c", "/f.bin?c", first, "%1/c|"},
        {"%1/d", "%2/locked/f.bin?d", second, "%1/|"},
        {"%4/e", "/f.bin?e", first, "%1/e|Basic YW5uOnB3"},
    };
    for (const auto& row : rows) {
        first.addRedirect(QString::fromLatin1(row.start + 2), fill(row.to));
    }
    startNginx(first);
    Engine engine(box.path());
    engine.prompts.credentials = {SessionPrompts::Credentials{}};
    SaveSiteLogin(engine.list, engine.listPath(), fill("%1"), QStringLiteral("ann"),
                  QStringLiteral("pw"));
    for (const auto& row : rows) {
        ASSERT_TRUE(WaitClosed({&engine.fetch(fill(row.start))}));
        QStringList got;
        for (const NginxPeer::LoggedRequest& request : row.lands.headerLog()) {
            if (request.request.contains(QString::fromLatin1(row.to).section(u'/', -1) + u' ')) {
                got << request.referer + u'|' + request.authorization;
            }
        }
        EXPECT_FALSE(got.isEmpty()) << row.to;
        for (const QString& line : got) {
            EXPECT_EQ(line, fill(row.refererAndLogin)) << row.to;
        }
    }
}

// 401: the user is asked, a wrong answer asks again with the other caption, the right one
// downloads; kept, the login is used for the next download from the host without asking.
TEST_F(SessionTest, BasicAuthAsksUntilRightAndRemembers) {
    const QByteArray first = Content(300000);
    const QByteArray second = Content(49999);
    serve(QStringLiteral("first.bin"), first);
    serve(QStringLiteral("second.bin"), second);
    NginxPeer nginx(served);
    nginx.addBasicAuthLocation(QStringLiteral("/private/"), QStringLiteral("ann"),
                               QStringLiteral("s3cret"));
    startNginx(nginx);
    Engine engine(box.path());
    engine.settings.MaxSegments = 4;

    using Credentials = SessionPrompts::Credentials;
    engine.prompts.credentials = {Credentials{true, "ann", "wrong", false},
                                  Credentials{true, "ann", "s3cret", true}};
    const QString url = nginx.url(QStringLiteral("/private/first.bin"));
    Download& d = engine.fetch(url);
    ASSERT_TRUE(WaitClosed({&d}));
    EXPECT_TRUE(d.observer.finished) << d.observer.whys.join(u'|').toStdString();
    EXPECT_EQ(engine.prompts.credentialCaptions,
              (QStringList{"Username/Password required", "Bad username/password !"}));
    EXPECT_EQ(engine.prompts.credentialUrls, (QStringList{url, url}));
    EXPECT_EQ(engine.record(d).SegmentCount, 4) << "every segment sends the login";
    EXPECT_EQ(FileSha256(engine.record(d).SavePath), Sha256(first));

    ASSERT_EQ(engine.list.SiteLoginCount, 1);
    const SiteLogin& login = engine.list.SiteLoginList[1];
    EXPECT_EQ(login.Site, nginx.url(QString()).chopped(1));
    EXPECT_EQ(login.LoginUser, QStringLiteral("ann"));
    EXPECT_EQ(UnscramblePassword(login.LoginPassword), QStringLiteral("s3cret"));
    DownloadListState saved;
    ASSERT_TRUE(LoadList(saved, engine.listPath()).error.isEmpty());
    EXPECT_EQ(saved.SiteLoginCount, 1) << "the login is saved with the list";

    // No answers queued: a prompt now would fail the test.
    Download& again = engine.fetch(nginx.url(QStringLiteral("/private/second.bin")));
    ASSERT_TRUE(WaitClosed({&again}));
    EXPECT_TRUE(again.observer.finished) << again.observer.whys.join(u'|').toStdString();
    EXPECT_EQ(engine.prompts.credentialCaptions.size(), 2);
    EXPECT_EQ(FileSha256(engine.record(again).SavePath), Sha256(second));
}

// A cancelled login prompt ends the session and leaves the entry paused, nothing written.
TEST_F(SessionTest, CancelledLoginPausesTheEntry) {
    serve(QStringLiteral("first.bin"), Content(50000));
    NginxPeer nginx(served);
    nginx.addBasicAuthLocation(QStringLiteral("/private/"), QStringLiteral("ann"),
                               QStringLiteral("s3cret"));
    startNginx(nginx);
    Engine engine(box.path());
    engine.prompts.credentials = {SessionPrompts::Credentials{}};

    Download& d = engine.fetch(nginx.url(QStringLiteral("/private/first.bin")));
    ASSERT_TRUE(WaitClosed({&d}));
    const DownloadRecord& r = engine.record(d);
    EXPECT_FALSE(d.observer.finished);
    EXPECT_EQ(StateOf(r), ListEntryState::Paused);
    EXPECT_EQ(engine.list.SiteLoginCount, 0);
    EXPECT_EQ(FolderEntries(engine.downloads()), QStringList{});
}

// Names from Content-Disposition, quoted or not, become the file's name; one that climbs out
// with "../" lands as a plain name inside the download folder.
TEST_F(SessionTest, ServerGivenNamesStayInTheDownloadFolder) {
    const QByteArray data = Content(300000);
    serve(QStringLiteral("data.bin"), data);
    NginxPeer nginx(served);
    nginx.addContentDispositionLocation(QStringLiteral("/quoted/"),
                                        QStringLiteral("attachment; filename=\"a b; c.bin\""));
    nginx.addContentDispositionLocation(QStringLiteral("/bare/"),
                                        QStringLiteral("attachment; filename=bare.bin"));
    nginx.addContentDispositionLocation(
        QStringLiteral("/climbing/"), QStringLiteral("attachment; filename=\"../../escaped.bin\""));
    startNginx(nginx);
    // The download folder sits two levels down, so "../../" would reach the sandbox itself.
    const QString root = box.file(QStringLiteral("program/inner"));
    Engine engine(root);
    engine.settings.MaxSegments = 4;

    Download& quoted = engine.fetch(nginx.url(QStringLiteral("/quoted/data.bin")));
    Download& bare = engine.fetch(nginx.url(QStringLiteral("/bare/data.bin")));
    Download& climbing = engine.fetch(nginx.url(QStringLiteral("/climbing/data.bin")));
    ASSERT_TRUE(WaitClosed({&quoted, &bare, &climbing}));

    EXPECT_EQ(engine.record(quoted).FileName, QStringLiteral("a b; c.bin"));
    EXPECT_EQ(engine.record(quoted).SavePath, engine.downloads() + QStringLiteral("a b; c.bin"));
    EXPECT_EQ(engine.record(bare).FileName, QStringLiteral("bare.bin"));
    EXPECT_EQ(engine.record(bare).SavePath, engine.downloads() + QStringLiteral("bare.bin"));

    const DownloadRecord& c = engine.record(climbing);
    EXPECT_TRUE(climbing.observer.finished) << climbing.observer.whys.join(u'|').toStdString();
    EXPECT_FALSE(c.FileName.contains(u'/')) << c.FileName.toStdString();
    EXPECT_TRUE(c.FileName.contains(QStringLiteral("escaped.bin"))) << c.FileName.toStdString();
    EXPECT_FALSE(c.FileName.startsWith(u'.')) << c.FileName.toStdString();
    EXPECT_EQ(QFileInfo(c.SavePath).absolutePath() + u'/', engine.downloads());
    for (int j = 1; j <= c.SegmentCount; ++j) {
        EXPECT_EQ(QFileInfo(c.Segments.at(j)->PartFile).absolutePath() + u'/', engine.temp());
    }
    for (const Download* d : {&quoted, &bare, &climbing}) {
        EXPECT_EQ(FileSha256(engine.record(*d).SavePath), Sha256(data));
    }
    // Nothing beside the program's own folders.
    EXPECT_EQ(FolderEntries(box.path()), (QStringList{"program", "served"}));
    EXPECT_EQ(FolderEntries(box.file(QStringLiteral("program"))), QStringList{"inner"});
    // The list is the one the joins saved.
    EXPECT_EQ(FolderEntries(root), (QStringList{"Brenloft.dat", "downloads", "temp"}));
    EXPECT_EQ(FolderEntries(engine.downloads()).size(), 3);
}

// Sorted by kind: the music folder comes from user-dirs.dirs in the test's XDG_CONFIG_HOME; a
// video folder that cannot be made leaves the file in the download folder, and the user is told.
TEST_F(SessionTest, SortedByKindIntoTheUserFoldersOrTheDownloadFolder) {
    const QByteArray data = Content(49999);
    const QString config = box.file(QStringLiteral("config"));
    const QString inTheWay = box.file(QStringLiteral("in-the-way"));
    ASSERT_TRUE(QDir().mkpath(config) && WriteFile(inTheWay, "x"));
    ASSERT_TRUE(
        WriteFile(config + QStringLiteral("/user-dirs.dirs"),
                  QStringLiteral("XDG_MUSIC_DIR=\"%1/Music\"\nXDG_VIDEOS_DIR=\"%2/Videos\"\n")
                      .arg(box.path(), inTheWay)
                      .toUtf8()));
    const std::optional<QByteArray> oldConfig = qEnvironmentVariableIsSet("XDG_CONFIG_HOME")
                                                    ? std::optional(qgetenv("XDG_CONFIG_HOME"))
                                                    : std::nullopt;
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    NginxPeer nginx(served);
    startNginx(nginx);
    Engine engine(box.file(QStringLiteral("program")));
    engine.settings.SortByKind = FlagTrue;
    struct Row {
        const char* name;
        QString folder;
        QStringList messages;
    };
    const Row rows[] = {
        {"song.mp3", box.file(QStringLiteral("Music/")), {}},
        {"clip.mkv",
         engine.downloads(),
         {engine.texts.text(1480).arg(inTheWay + QStringLiteral("/Videos/"))}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString name = QString::fromUtf8(row.name);
        serve(name, data);
        engine.prompts.messages.clear();
        Download& d = engine.fetch(nginx.url(u'/' + name));
        ASSERT_TRUE(WaitClosed({&d}));
        EXPECT_TRUE(d.observer.finished) << d.observer.whys.join(u'|').toStdString();
        EXPECT_EQ(engine.record(d).SavePath, row.folder + name);
        EXPECT_EQ(FileSha256(row.folder + name), Sha256(data));
        EXPECT_EQ(engine.prompts.messages, row.messages);
    }
    oldConfig ? qputenv("XDG_CONFIG_HOME", *oldConfig) : qunsetenv("XDG_CONFIG_HOME");
}

// A page (exactly text/html) is not downloaded: the user is asked whether to open it, and the
// entry fails either way. A page with a charset is an ordinary file.
TEST_F(SessionTest, WebPagesAreOfferedToTheBrowser) {
    const QByteArray page = "<html><body>not a file</body></html>\n";
    serve(QStringLiteral("declined.html"), page);
    serve(QStringLiteral("accepted.html"), page);
    NginxPeer nginx(served);
    nginx.addLocation(
        QStringLiteral("location /charset/ { alias \"%1/\"; charset utf-8; }").arg(served));
    startNginx(nginx);
    Engine engine(box.path());

    engine.prompts.yesNo = {false};
    Download& declined = engine.fetch(nginx.url(QStringLiteral("/declined.html")));
    ASSERT_TRUE(WaitClosed({&declined}));
    engine.prompts.yesNo = {true};
    const QString acceptedUrl = nginx.url(QStringLiteral("/accepted.html"));
    Download& accepted = engine.fetch(acceptedUrl);
    ASSERT_TRUE(WaitClosed({&accepted}));

    EXPECT_EQ(engine.prompts.questions,
              (QStringList{engine.texts.text(536), engine.texts.text(536)}));
    EXPECT_EQ(engine.opened, QStringList{acceptedUrl});
    for (const Download* d : {&declined, &accepted}) {
        const DownloadRecord& r = engine.record(*d);
        EXPECT_FALSE(d->observer.finished);
        EXPECT_EQ(StateOf(r), ListEntryState::Failed);
        EXPECT_EQ(r.SegmentCount, 0) << "no segment was planned";
    }
    EXPECT_EQ(FolderEntries(engine.downloads()), QStringList{});
    EXPECT_EQ(FolderEntries(engine.temp()), QStringList{});

    Download& withCharset = engine.fetch(nginx.url(QStringLiteral("/charset/declined.html")));
    ASSERT_TRUE(WaitClosed({&withCharset}));
    EXPECT_TRUE(withCharset.observer.finished);
    EXPECT_EQ(engine.prompts.questions.size(), 2);
    EXPECT_EQ(ReadFile(engine.record(withCharset).SavePath), page);
}

// Error answers, to a new download and to one resumed from its plan, tell the user and keep the
// entry failed: its address, its bytes and part files, and its reason across a restart.
TEST_F(SessionTest, ErrorAnswersKeepTheEntryFailedWithItsReason) {
    NginxPeer nginx(served);
    for (const int status : {410, 429, 503}) {
        nginx.addLocation(QStringLiteral("location = /s%1.bin { return %1; }").arg(status));
    }
    serve(QStringLiteral("page.html"), "<html></html>\n");
    startNginx(nginx);
    Engine engine(box.path());
    engine.prompts.yesNo = {false, false};
    engine.ctx.busyFirstWaitMs = 1;  // 429 and 503 are asked ten times first
    struct Case {
        const char* path;
        std::int16_t code;
        const char* words;
    };
    const std::vector<Case> cases = {
        {"/missing.bin", 404, "the server answered 404 Not Found"},
        {"/s410.bin", 410, "the server answered 410 Gone"},
        {"/s429.bin", 429, "the server answered 429 Too Many Requests"},
        {"/s503.bin", 503, "the server answered 503 Service Unavailable"},
        {"/page.html", FailureCode::WebPage, "the address is a web page, not a file"},
    };
    std::vector<int> entries;
    for (const Case& c : cases) {
        for (const bool resumed : {false, true}) {
            const int slot = engine.add(nginx.url(QString::fromLatin1(c.path)));
            DownloadRecord& r = engine.record(slot);
            if (resumed) {
                // A plan with 1,000 bytes stored in its first part.
                r.FileSize = Currency::fromBytes(100000);
                PlanSegments(r, 2, MillisecondTick(), engine.temp());
                ASSERT_TRUE(WriteFile(r.Segments.at(1)->PartFile, QByteArray(1000, 'x')));
                r.Segments.at(1)->Received = r.BytesDone = Currency::fromBytes(1000);
                RebaseForResume(r);
            }
            entries.push_back(slot);
            Download& d = engine.start(slot);
            ASSERT_TRUE(WaitClosed({&d}));
            EXPECT_EQ(d.observer.whys.value(0), FailureWords(c.code)) << c.path;
        }
    }
    ASSERT_EQ(SaveList(engine.list, engine.listPath()), QString());
    Engine again(box.path());
    ASSERT_EQ(LoadList(again.list, again.listPath()).error, QString());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Case& c = cases[i / 2];
        SCOPED_TRACE(std::string(c.path) + (i % 2 ? " resumed" : " fresh"));
        const DownloadRecord& r = again.record(entries[i]);
        EXPECT_EQ(StateOf(r), ListEntryState::Failed);
        EXPECT_EQ(r.Url, EncodeUrl(nginx.url(QString::fromLatin1(c.path))));
        EXPECT_EQ(FailureWords(FailureCodeOf(r), again.texts), QString::fromLatin1(c.words));
        EXPECT_EQ(r.BytesDone.bytes(), i % 2 ? 1000 : 0);
        EXPECT_EQ(r.SegmentCount, i % 2 ? 2 : 0);
        if (i % 2) {
            EXPECT_EQ(QFileInfo(r.Segments.at(1)->PartFile).size(), 1000);
        }
    }
    EXPECT_EQ(engine.prompts.messages.value(0),
              engine.texts.text(531) + QStringLiteral(" /missing.bin ") + engine.texts.text(530));
    EXPECT_EQ(FolderEntries(engine.downloads()), QStringList{});
}

// A server that puts the download off, at its probe or at a later connection, is asked again
// after the time it names, or a wait that doubles; put off ten times in a row, the download
// fails with its answer.
TEST_F(SessionTest, BusyServersAreAskedAgainLater) {
    HttpFaultServer server;
    const QString log = box.file(QStringLiteral("busy.log"));
    ASSERT_TRUE(server.start(log)) << server.error().toStdString();
    Engine engine(box.path());
    engine.settings.MaxSegments = 4;
    engine.ctx.busyFirstWaitMs = 1;
    const struct {
        const char* mode;
        int putOff;  // answers that put it off
        int waits;
        std::int64_t lastWaitMs;
    } rows[] = {
        {"busy-first", 1, 1, 1000},  // the probe: 429, Retry-After: 1
        // An extra connection: 429, Retry-After: 2, while two others bring bytes: the server
        // takes no more connections, so the download goes on with two rather than waiting.
        {"busy-third", 1, 0, 0},
        {"busy-twice", 2, 2, 2},      // the probe: 503 without a time, 1 ms, then 2
        {"busy-always", 10, 9, 256},  // 503 to every try
    };
    std::vector<Download*> all;
    for (const auto& row : rows) {
        all.push_back(&engine.fetch(server.url(QLatin1String(row.mode), 1000000)));
    }
    ASSERT_TRUE(WaitClosed(all));
    const QByteArray requests = ReadFile(log);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.mode);
        const DownloadRecord& r = engine.record(*all[i]);
        if (row.putOff < 10) {
            EXPECT_EQ(ReadFile(r.SavePath),
                      HttpFaultServer::Body(QLatin1String(row.mode), 1000000));
        } else {
            EXPECT_EQ(StateOf(r), ListEntryState::Failed);
            EXPECT_EQ(all[i]->observer.whys.value(0), FailureWords(503));
        }
        EXPECT_EQ(requests.count(QByteArray("BUSY /") + row.mode + '/'), row.putOff);
        EXPECT_EQ(all[i]->session->busyNotice().begun, row.waits);
        EXPECT_EQ(all[i]->session->busyNotice().waitMs, row.lastWaitMs);
    }
}

namespace {

std::int64_t RangeStart(const SegmentRecord& s) {
    return s.EndPos.bytes() - s.Length.bytes() + 1;
}

// Each segment of a paused download: nothing on a connection, its part file holding the bytes
// stored so far and they are the source's, and the next request starting after them.
void ExpectFoldedIntoParts(const DownloadRecord& r, const QByteArray& source) {
    for (int j = 1; j <= r.SegmentCount; ++j) {
        SCOPED_TRACE("segment " + std::to_string(j));
        const SegmentRecord& s = *r.Segments.at(j);
        const std::int64_t first = s.EndPos.bytes() - s.Length.bytes() + 1;
        EXPECT_EQ(s.Received.bytes(), 0);
        EXPECT_EQ(s.StartPos.bytes(), first + s.Done.bytes());
        const QByteArray part = StoredPart(r, j);
        EXPECT_EQ(part.size(), s.Done.bytes());
        EXPECT_TRUE(part == source.mid(first, part.size())) << "part file content differs";
        if (s.State != SegmentState::Complete) {
            EXPECT_EQ(s.State, SegmentState::Paused);
        }
    }
}

// Bytes stored by the segments that are not yet complete, and how many have some.
std::int64_t StoredSoFar(const DownloadRecord& r, int* started = nullptr) {
    std::int64_t total = 0;
    int count = 0;
    for (int j = 1; j <= r.SegmentCount; ++j) {
        const SegmentRecord& s = *r.Segments.at(j);
        const std::int64_t bytes = (s.Done + s.Received).bytes();
        total += bytes;
        count += bytes > 0 && bytes < s.Length.bytes() ? 1 : 0;
    }
    if (started != nullptr) {
        *started = count;
    }
    return total;
}

// 8 segments of 512 KiB at 128 KiB/s each: about four seconds of transfer.
constexpr qsizetype SlowSize = 4 * 1024 * 1024;
constexpr std::int64_t SlowRate = 128 * 1024;

}  // namespace

// Pause folds each segment's progress into its plan and keeps what was stored; resume goes on
// from there and the file comes out whole.
TEST_P(OverTls, PauseAndResumeContinueEachSegment) {
    const bool tls = GetParam();
    const QByteArray data = RandomBytes(SlowSize);
    serve(QStringLiteral("slow.bin"), data);
    NginxPeer nginx(served);
    nginx.addRateLimitedLocation(QStringLiteral("/slow/"), SlowRate);
    if (tls) {
        serveTls(nginx);
    }
    startNginx(nginx);
    Engine engine(box.path());
    trustTestCa(engine);
    engine.settings.MaxSegments = 8;

    Download& d = engine.fetch(nginx.url(QStringLiteral("/slow/slow.bin")));
    DownloadRecord& r = engine.record(d);
    int started = 0;
    ASSERT_TRUE(WaitFor([&] { return StoredSoFar(r, &started) > 0 && started == 8; },
                        std::chrono::seconds(30)))
        << "all eight segments receive";
    // Resuming a running download does nothing.
    const auto running = r.Segments;
    d.session->ResumeDownload();
    for (int j = 1; j <= 8; ++j) {
        EXPECT_EQ(r.Segments.at(j)->StartPos.bytes(), running.at(j)->StartPos.bytes());
        EXPECT_EQ(r.Segments.at(j)->Done.bytes(), running.at(j)->Done.bytes());
    }
    d.session->PauseDownload();
    EXPECT_EQ(StateOf(r), ListEntryState::Paused);
    ExpectFoldedIntoParts(r, data);

    // Data still in flight is dropped, and a second pause changes nothing.
    const DownloadRecord atPause = r;
    WaitFor([] { return false; }, std::chrono::milliseconds(700));
    d.session->PauseDownload();
    EXPECT_EQ(r.Segments, atPause.Segments);
    EXPECT_EQ(r.BytesDone, atPause.BytesDone);
    ExpectFoldedIntoParts(r, data);
    EXPECT_LT(StoredSoFar(r), SlowSize) << "paused part way";
    EXPECT_EQ(d.observer.closes, 0) << "a pause keeps the session";

    d.session->ResumeDownload();
    EXPECT_FALSE(HeldByPause(r));
    ASSERT_TRUE(WaitClosed({&d}));
    EXPECT_TRUE(d.observer.finished) << d.observer.whys.join(u'|').toStdString();
    EXPECT_EQ(d.observer.planned.front(), 8);
    // The plan was kept: a segment left behind after the resume may have had its tail split
    // off to a free connection (a record of its own, placed after it), which only shortens it.
    for (int j = 1; j <= 8; ++j) {
        const SegmentRecord& kept = *atPause.Segments.at(j);
        const SegmentRecord* now = nullptr;
        for (int k = 1; k <= r.SegmentCount; ++k) {
            now = RangeStart(*r.Segments.at(k)) == RangeStart(kept) ? r.Segments.at(k) : now;
        }
        ASSERT_NE(now, nullptr) << "segment " << j;
        EXPECT_EQ(now->StartPos.bytes() - now->Done.bytes(),
                  kept.StartPos.bytes() - kept.Done.bytes());
        EXPECT_LE(now->EndPos.bytes(), kept.EndPos.bytes());
        EXPECT_GE(now->EndPos.bytes() + 1, kept.StartPos.bytes() + kept.Done.bytes())
            << "no stored byte was cut off";
    }
    EXPECT_EQ(r.BytesDone.bytes(), SlowSize) << "no byte was counted twice";
    EXPECT_EQ(FileSha256(r.SavePath), Sha256(data));
    EXPECT_EQ(FolderEntries(engine.temp()), QStringList{});
}

// The program stops without pausing (killed) after the list was saved; started again it loads
// the list, folds what each segment had received into its plan, and finishes the same parts.
TEST_P(OverTls, ResumesFromTheSavedListAfterAKill) {
    const bool tls = GetParam();
    const QByteArray data = RandomBytes(SlowSize);
    serve(QStringLiteral("slow.bin"), data);
    NginxPeer nginx(served);
    nginx.addRateLimitedLocation(QStringLiteral("/slow/"), SlowRate);
    if (tls) {
        serveTls(nginx);
    }
    startNginx(nginx);

    std::vector<std::int64_t> planned;
    int slot = 0;
    {
        Engine first(box.path());
        trustTestCa(first);
        first.settings.MaxSegments = 8;
        Download& d = first.fetch(nginx.url(QStringLiteral("/slow/slow.bin")));
        slot = d.slot;
        DownloadRecord& r = first.record(d);
        int started = 0;
        ASSERT_TRUE(WaitFor([&] { return StoredSoFar(r, &started) > 0 && started == 8; },
                            std::chrono::seconds(30)));
        ASSERT_EQ(SaveList(first.list, first.listPath()), QString());
        for (int j = 1; j <= r.SegmentCount; ++j) {
            planned.push_back(RangeStart(*r.Segments.at(j)));
        }
        // The parts go on growing past what the list knows until the end comes.
        const std::int64_t saved = StoredSoFar(r);
        WaitFor([&] { return StoredSoFar(r) > saved + 100000; }, std::chrono::seconds(10));
        ASSERT_LT(StoredSoFar(r), SlowSize);
    }

    Engine second(box.path());
    trustTestCa(second);
    second.settings.MaxSegments = 8;
    ASSERT_EQ(LoadList(second.list, second.listPath()).error, QString());
    DownloadRecord& r = second.list.DownloadList[slot];
    ASSERT_EQ(r.SegmentCount, 8);
    EXPECT_EQ(StateOf(r), ListEntryState::Paused)
        << "an entry running at the kill comes back paused";
    // As starting a session from a saved state does. The list was saved by a run long gone:
    // its ticks lie far behind, and the segments the pacing reaches last must still get their
    // ranges once, not a second connection written behind the first.
    for (int j = 1; j <= r.SegmentCount; ++j) {
        r.Segments.at(j)->SegTick = MillisecondTick() - 600000;
    }
    RebaseForResume(r);
    // A part file cut short meanwhile: the segments whose bytes it lost are fetched again
    // whole, not continued behind a hole.
    const SegmentRecord& third = *r.Segments.at(3);
    ASSERT_GT(third.Done.bytes(), 0);
    ASSERT_TRUE(QFile::resize(third.PartFile, RangeStart(third) + third.Done.bytes() - 1));
    Download& d = second.start(slot);
    ASSERT_TRUE(WaitClosed({&d}));
    EXPECT_TRUE(d.observer.finished) << d.observer.whys.join(u'|').toStdString();
    std::vector<std::int64_t> starts;
    for (int j = 1; j <= r.SegmentCount; ++j) {
        starts.push_back(RangeStart(*r.Segments.at(j)));
    }
    // Ranges split off on the way come between the saved ones.
    std::erase_if(starts, [&](std::int64_t start) { return !std::ranges::count(planned, start); });
    EXPECT_EQ(starts, planned) << "the saved plan was continued, not made anew";
    EXPECT_EQ(r.BytesDone.bytes(), SlowSize) << "no byte was counted twice";
    EXPECT_EQ(FileSha256(r.SavePath), Sha256(data));
    EXPECT_EQ(FolderEntries(second.temp()), QStringList{});
}

INSTANTIATE_TEST_SUITE_P(Transport, OverTls, ::testing::Bool(), TransportName);

// A file replaced on its server while its download waits is never joined with the old bytes:
// started again (the user's yes) the new file arrives whole; stopped (no) the entry fails with
// the reason and its parts keep the old bytes only.
TEST_F(SessionTest, AFileReplacedOnTheServerIsFetchedAgainWholeOrStopped) {
    NginxPeer nginx(served);
    nginx.addRateLimitedLocation(QStringLiteral("/slow/"), SlowRate);
    nginx.addLocation(
        QStringLiteral("location /undated/ { alias \"%1/\"; limit_rate %2; etag off; }")
            .arg(served)
            .arg(SlowRate));
    startNginx(nginx);
    Engine engine(box.path());
    engine.settings.MaxSegments = 8;
    const struct {
        const char* name;
        const char* location;
        qsizetype newSize;
        bool probedAgain;  // a new session from the saved state, as a restart resumes it
        bool yes;
    } rows[] = {
        {"same size, another ETag", "/slow/", SlowSize, false, true},
        {"another size", "/slow/", SlowSize + 1000, false, false},
        {"no ETag, another date", "/undated/", SlowSize, false, true},
        {"another ETag, found by the probe", "/slow/", SlowSize, true, false},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString name = QStringLiteral("v%1.bin").arg(++n);
        const QByteArray before = RandomBytes(SlowSize);
        const QByteArray after = RandomBytes(row.newSize);
        const auto put = [&](const QByteArray& bytes, int year) {
            QFile file(serve(name, bytes));
            ASSERT_TRUE(file.open(QIODevice::ReadWrite));
            ASSERT_TRUE(
                file.setFileTime(QDateTime(QDate(year, 1, 1), QTime(0, 0), QTimeZone::utc()),
                                 QFileDevice::FileModificationTime));
        };
        put(before, 2024);
        Download* d = &engine.fetch(nginx.url(QLatin1String(row.location) + name));
        DownloadRecord& r = engine.record(*d);
        ASSERT_TRUE(WaitFor([&] { return StoredSoFar(r) > 0; }, std::chrono::seconds(30)));
        d->session->PauseDownload();
        put(after, 2025);
        engine.prompts.yesNo = {row.yes};
        if (row.probedAgain) {
            d->session->CancelDownload();
            RebaseForResume(r);
            d = &engine.start(d->slot);
        } else {
            d->session->ResumeDownload();
        }
        ASSERT_TRUE(WaitClosed({d}));
        EXPECT_EQ(engine.prompts.questions.size(), n);
        if (row.yes) {
            EXPECT_TRUE(d->observer.finished) << d->observer.whys.join(u'|').toStdString();
            EXPECT_EQ(FileSha256(r.SavePath), Sha256(after));
        } else {
            EXPECT_EQ(StateOf(r), ListEntryState::Failed);
            EXPECT_EQ(r.Reserved4, FailureCode::FileChanged);
            ExpectFoldedIntoParts(r, before);
        }
    }
}

// Pause-all can reach a download still waiting for the probe's answer; resume-all must then
// start it.
TEST_F(SessionTest, PausedDuringTheProbeResumes) {
    const QByteArray data = Content(1000003);
    serve(QStringLiteral("early.bin"), data);
    NginxPeer nginx(served);
    startNginx(nginx);
    Engine engine(box.path());
    engine.settings.MaxSegments = 4;

    Download& d = engine.fetch(nginx.url(QStringLiteral("/early.bin")));
    d.session->PauseDownload();
    DownloadRecord& r = engine.record(d);
    EXPECT_TRUE(HeldByPause(r));
    // Whatever the probe's answer does meanwhile, nothing is fetched while paused.
    WaitFor([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_EQ(r.BytesDone.bytes(), 0);
    EXPECT_TRUE(HeldByPause(r));

    d.session->ResumeDownload();
    ASSERT_TRUE(WaitClosed({&d}, std::chrono::seconds(30)))
        << "Paused " << r.Paused << " Running " << r.Running << " segments " << r.SegmentCount;
    EXPECT_TRUE(d.observer.finished) << d.observer.whys.join(u'|').toStdString();
    EXPECT_EQ(FileSha256(r.SavePath), Sha256(data));
}

// Without range support a resumed download can only start over: its one segment is fetched
// again from byte 0 over what was stored, and the file still comes out whole.
TEST_F(SessionTest, PausedDownloadWithoutRangesStartsOver) {
    const QByteArray data = RandomBytes(384 * 1024);
    serve(QStringLiteral("whole.bin"), data);
    NginxPeer nginx(served);
    nginx.addLocation(QStringLiteral("location /slow-whole/ { alias \"%1/\"; max_ranges 0; "
                                     "limit_rate %2; }")
                          .arg(served)
                          .arg(SlowRate));
    startNginx(nginx);
    Engine engine(box.path());
    engine.settings.MaxSegments = 8;

    Download& d = engine.fetch(nginx.url(QStringLiteral("/slow-whole/whole.bin")));
    DownloadRecord& r = engine.record(d);
    ASSERT_TRUE(WaitFor([&] { return StoredSoFar(r) > 100000; }, std::chrono::seconds(30)));
    d.session->PauseDownload();
    ASSERT_EQ(r.SegmentCount, 1);
    EXPECT_EQ(r.RangesSupported, FlagFalse);
    ExpectFoldedIntoParts(r, data);
    EXPECT_LT(StoredSoFar(r), data.size()) << "paused part way";
    const QString part = r.Segments.at(1)->PartFile;

    d.session->ResumeDownload();
    EXPECT_EQ(r.Segments.at(1)->StartPos.bytes(), 0);
    EXPECT_EQ(r.Segments.at(1)->Done.bytes(), 0);
    EXPECT_EQ(r.BytesDone.bytes(), 0);
    ASSERT_TRUE(WaitClosed({&d}));
    EXPECT_TRUE(d.observer.finished) << d.observer.whys.join(u'|').toStdString();
    EXPECT_EQ(r.Segments.at(1)->PartFile, part);
    EXPECT_EQ(r.BytesDone.bytes(), data.size());
    EXPECT_EQ(FileSha256(r.SavePath), Sha256(data));
}

// The speed limit over any two seconds from a fast server, after the first second of the
// download and of its resume: no banked allowance (the idle wait, the pause) is spent at line
// speed, and held-back reads are retried often enough that no window falls short by a pump's
// share. A busy machine only delays reads, which the bank makes up within half a second.
TEST_F(SessionTest, SpeedLimitHoldsOverAnyTwoSecondsAfterIdleAndAcrossAResume) {
    constexpr std::int32_t Limit = 1024 * 1024;
    serve(QStringLiteral("big.bin"), RandomBytes(16 * 1024 * 1024));
    NginxPeer nginx(served);
    startNginx(nginx);
    Engine engine(box.path());
    engine.settings.UseSpeedLimiter = FlagTrue;
    engine.settings.SpeedLimiter = Limit;
    engine.sockets.setLimits({true, Limit});
    const auto idle = [](int ms) { WaitFor([] { return false; }, std::chrono::milliseconds(ms)); };
    idle(1500);
    Download& d = engine.fetch(nginx.url(QStringLiteral("/big.bin")));
    const DownloadRecord& r = engine.record(d);
    std::vector<std::pair<qint64, std::int64_t>> samples;  // milliseconds, bytes counted
    QElapsedTimer clock;
    clock.start();
    const auto sample = [&] { samples.emplace_back(clock.elapsed(), r.BytesDone.bytes()); };
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, sample);
    sampler.start(20);
    ASSERT_TRUE(WaitFor([&] { return r.BytesDone.bytes() > 0; }));
    const qint64 first = clock.elapsed() + 1000;
    idle(3500);
    const qint64 paused = clock.elapsed();
    d.session->PauseDownload();
    idle(2000);
    sample();
    const qint64 resumed = clock.elapsed();
    d.session->ResumeDownload();
    idle(3500);
    double most = 0;
    double least = 10;
    for (const auto& [a, aBytes] : samples) {
        for (const auto& [b, bBytes] : samples) {
            const bool inPhase = (a >= first && b <= paused) || a >= resumed + 1000;
            if (inPhase && b > a && b - a <= 2000) {
                most = std::max(most, double(bBytes - aBytes) / (2.0 * Limit));
                least = b - a >= 1950 ? std::min(least, double(bBytes - aBytes) / (2.0 * Limit))
                                      : least;
            }
        }
    }
    EXPECT_LE(most, 1.1);
    EXPECT_GE(least, 0.85);
    EXPECT_LT(least, 10) << "no window was measured";
}

// The update check against real servers: the HTTP fault server for answers that come in
// pieces, in error or never, nginx behind tinyproxy for the proxy's road.
#include "update/update_check.h"

#include <gtest/gtest.h>

#include <QDir>
#include <optional>

#include "tests/support/engine_rig.h"
#include "tests/support/http_fault_server.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/proxy_peer.h"
#include "tests/support/test_files.h"
#include "tests/support/text_printer.h"

namespace {

using Kind = UpdateCheckResult::Kind;

class UpdateCheckTest : public ::testing::Test, protected EngineRig {
protected:
    // Runs one check against `server` and waits for its end.
    std::optional<UpdateCheckResult> check(
        const UpdateServer& server, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        UpdateCheck check(sockets, settings, server);
        check.setTimeLimit(limit);
        std::optional<UpdateCheckResult> result;
        bool sending = false;
        QObject::connect(&check, &UpdateCheck::sending, [&] { sending = true; });
        QObject::connect(&check, &UpdateCheck::finished,
                         [&](const UpdateCheckResult& r) { result = r; });
        check.Start();
        EXPECT_TRUE(WaitFor([&] { return result.has_value(); }, std::chrono::seconds(30)));
        sentRequest = sending;
        return result;
    }

    bool sentRequest = false;
};

struct FaultCase {
    const char* name;
    const char* mode;
    QByteArray versionFile;
    Kind kind;
    int status;
    const char* digits;
    const char* notes;
};

void PrintTo(const FaultCase& c, std::ostream* out) {
    *out << c.name;
}

class UpdateCheckAnswers : public UpdateCheckTest,
                           public ::testing::WithParamInterface<FaultCase> {};

TEST_P(UpdateCheckAnswers, OnlyAWhole200AnswerCounts) {
    const FaultCase& c = GetParam();
    ASSERT_TRUE(QDir().mkpath(file(QStringLiteral("served"))));
    ASSERT_TRUE(WriteFile(file(QStringLiteral("served/version.txt")), c.versionFile));
    HttpFaultServer server(file(QStringLiteral("served")));
    server.setMode(QLatin1String(c.mode));
    ASSERT_TRUE(server.start(file(QStringLiteral("faults.log")))) << server.error().toStdString();

    const bool silent = QLatin1String(c.mode) == u"silent";
    const auto result =
        check(ParseUpdateServer(server.url(QString())),
              silent ? std::chrono::milliseconds(800) : std::chrono::milliseconds(20000));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->kind, c.kind) << result->why.toStdString();
    EXPECT_EQ(result->status, c.status);
    EXPECT_EQ(result->file.digits, QLatin1String(c.digits));
    EXPECT_EQ(result->file.notes, QLatin1String(c.notes));
    EXPECT_TRUE(sentRequest);
    if (c.kind == Kind::Newer) {
        EXPECT_EQ(result->packageUrl,
                  server.url(QStringLiteral("/velmora/kestor%1.zip").arg(c.digits)));
    } else {
        // An error page's "404" never names a package.
        EXPECT_TRUE(result->packageUrl.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    FaultServer, UpdateCheckAnswers,
    ::testing::Values(
        FaultCase{"in_two_pieces", "split-body", "1.5\r\nThe notes come in a second piece.",
                  Kind::Newer, 200, "15", "The notes come in a second piece."},
        FaultCase{"not_found_page", "not-found-page", "", Kind::Refused, 404, "", ""},
        FaultCase{"lf_only_file", "plain", "1.5\nLines end in LF.\nOnly.\n", Kind::Newer, 200, "15",
                  "Lines end in LF.\nOnly."},
        FaultCase{"lf_only_head", "lf-head", "1.1\r\n", Kind::Newer, 200, "11", ""},
        FaultCase{"chunked", "chunked", "2\r\nin chunks", Kind::Newer, 200, "2", "in chunks"},
        FaultCase{"ended_by_the_close", "unsized", "0.9\r\nold", Kind::UpToDate, 200, "09", "old"},
        FaultCase{"never_answers", "silent", "1.5", Kind::NoAnswer, 0, "", ""}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

TEST_F(UpdateCheckTest, NoServerListening) {
    const auto result = check(ParseUpdateServer(QStringLiteral("http://127.0.0.1:1")));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->kind, Kind::NoAnswer);
    EXPECT_FALSE(sentRequest);
}

TEST_F(UpdateCheckTest, TheProxyIsSentTheWholeAddress) {
    // A stand-in proxy that logs what it is asked and answers from its folder: the update
    // server's name need not resolve, as only the proxy is reached.
    ASSERT_TRUE(QDir().mkpath(file(QStringLiteral("served"))));
    ASSERT_TRUE(WriteFile(file(QStringLiteral("served/version.txt")), "1.5\r\nvia the proxy"));
    HttpFaultServer proxy(file(QStringLiteral("served")));
    proxy.setMode(QStringLiteral("plain"));
    const QString log = file(QStringLiteral("proxy.log"));
    ASSERT_TRUE(proxy.start(log)) << proxy.error().toStdString();
    settings.ProxyHTTP = FlagTrue;
    settings.ProxyServer = QStringLiteral("127.0.0.1");
    settings.ProxyPort = static_cast<std::int16_t>(proxy.port());

    const auto result = check(ParseUpdateServer(QStringLiteral("http://updates.invalid:8080")));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->kind, Kind::Newer) << result->why.toStdString();
    EXPECT_EQ(result->packageUrl,
              QStringLiteral("http://updates.invalid:8080/velmora/kestor15.zip"));
    EXPECT_TRUE(
        ReadFile(log).startsWith("GET http://updates.invalid:8080/velmora/version.txt 0 -1 -\n"))
        << ReadFile(log).toStdString();
}

TEST_F(UpdateCheckTest, ThroughTinyproxyToNginx) {
    ASSERT_TRUE(QDir().mkpath(file(QStringLiteral("site/velmora"))));
    ASSERT_TRUE(WriteFile(file(QStringLiteral("site/velmora/version.txt")), "1.5\r\nreal"));
    NginxPeer nginx(file(QStringLiteral("site")));
    nginx.logRequests();
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    // A proxy that asks for a login: given after its 407.
    ProxyPeer proxy;
    proxy.requireLogin(QStringLiteral("ann"), QStringLiteral("s3cret"));
    ASSERT_TRUE(proxy.start()) << proxy.error().toStdString();
    settings.ProxyHTTP = FlagTrue;
    settings.ProxyServer = QStringLiteral("127.0.0.1");
    settings.ProxyPort = static_cast<std::int16_t>(proxy.port());
    settings.ProxyUser = QStringLiteral("ann");
    settings.ProxyPassword = QStringLiteral("s3cret");

    const auto result = check(ParseUpdateServer(nginx.url(QString())));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->kind, Kind::Newer) << result->why.toStdString();
    EXPECT_EQ(result->file.notes, QStringLiteral("real"));
    ASSERT_TRUE(WaitFor([&] { return !nginx.accessLog().isEmpty(); }));
    EXPECT_TRUE(nginx.accessLog().first().contains(u"GET /velmora/version.txt HTTP/1.1"))
        << nginx.accessLog().join(u'\n').toStdString();
    const QByteArray proxyLog = ReadFile(proxy.folder() + QStringLiteral("/proxy.log"));
    EXPECT_TRUE(proxyLog.contains(QStringLiteral("GET %1 HTTP/1.1")
                                      .arg(nginx.url(QStringLiteral("/velmora/version.txt")))
                                      .toUtf8()))
        << proxyLog.toStdString();
}

}  // namespace

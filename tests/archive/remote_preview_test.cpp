#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QDir>
#include <QFile>
#include <memory>

#include "archive/remote/zip_preview_reader.h"
#include "core/types/unique_fd.h"
#include "engine/http/proxy_route.h"
#include "tests/archive/archive_test_tools.h"
#include "tests/archive/read_as_preview.h"
#include "tests/archive/remote_test_tools.h"
#include "tests/archive/zip_samples.h"
#include "tests/support/http_fault_server.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/peer_process.h"
#include "tests/support/proxy_peer.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

// The remote preview against real servers: every sample archive read by ranges over each way
// a download connects lists what reading the file itself lists; hostile and broken answers
// end with the reason that fits them.

namespace {

using Reason = RemoteArchiveFailure::Reason;

// ResolvedTunnel: the options name no proxy; the route comes from the program's resolver (the
// desktop's system settings, brenloft-get's environment).
enum class Transport { Plain, Tls, Ipv6Tls, PlainProxy, TlsTunnel, ResolvedTunnel };

struct FixedResolver : ProxyResolver {
    void resolve(const QString& /*url*/, Done done) override { done(route); }
    ProxyRoute route;
};

const char* TransportName(Transport t) {
    switch (t) {
        case Transport::Plain:
            return "Plain";
        case Transport::Tls:
            return "Tls";
        case Transport::Ipv6Tls:
            return "Ipv6Tls";
        case Transport::PlainProxy:
            return "PlainProxy";
        case Transport::TlsTunnel:
            return "TlsTunnel";
        case Transport::ResolvedTunnel:
            return "ResolvedTunnel";
    }
    return "?";
}

bool UsesTls(Transport t) {
    return t != Transport::Plain && t != Transport::PlainProxy;
}

void ServeTls(NginxPeer& nginx, const char* certificate = "good.pem") {
    nginx.setTls(TestCertificates().file(QString::fromLatin1(certificate)),
                 TestCertificates().file(QStringLiteral("server.key")));
}

class RemotePreview : public ::testing::TestWithParam<Transport> {};

TEST_P(RemotePreview, ListsWhatTheFileItselfAndUnzipList) {
    const Transport transport = GetParam();
    Sandbox box;
    const QString served = box.file(QStringLiteral("served"));
    ASSERT_TRUE(QDir().mkpath(served));
    std::vector<const ZipSample*> samples;
    for (const ZipSample& sample : ZipSamples()) {
        if (sample.slow) {
            continue;
        }
        const QString tree = box.file(QStringLiteral("tree-") + QLatin1String(sample.name));
        ASSERT_TRUE(QDir().mkpath(tree));
        ASSERT_TRUE(sample.make(tree, served + u'/' + QLatin1String(sample.name) + ".zip"))
            << sample.name;
        samples.push_back(&sample);
    }

    NginxPeer nginx(served);
    nginx.logRequests();
    if (UsesTls(transport)) {
        ServeTls(nginx);
    }
    if (transport == Transport::Ipv6Tls) {
        nginx.listenOnIPv6();
    }
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    ProxyPeer proxy;
    RemoteRig rig;
    if (transport == Transport::PlainProxy || transport == Transport::TlsTunnel) {
        ASSERT_TRUE(proxy.start()) << proxy.error().toStdString();
        rig.useProxy(proxy.port());
    }
    FixedResolver resolver;
    if (transport == Transport::ResolvedTunnel) {
        ASSERT_TRUE(proxy.start()) << proxy.error().toStdString();
        resolver.route.kind = ProxyRoute::Kind::Http;
        resolver.route.host = QStringLiteral("127.0.0.1");
        resolver.route.port = proxy.port();
        rig.engine.ctx.proxyResolver = &resolver;
    }

    int requests = 0;
    for (const ZipSample* sample : samples) {
        SCOPED_TRACE(sample->name);
        const QString path = u'/' + QLatin1String(sample->name) + ".zip";
        const QByteArray file = ReadFile(served + path);
        QString url = nginx.url(path);
        if (transport == Transport::Ipv6Tls) {
            url.replace(QStringLiteral("127.0.0.1"), QStringLiteral("[::1]"));
        }
        const PreviewOutcome outcome = RunPreview(rig, ArchiveAt(url, file.size()));
        ASSERT_TRUE(outcome.listed) << *outcome.failure;
        EXPECT_EQ(outcome.phases, (QList<int>{1, 2}));
        EXPECT_EQ(outcome.readPhase, 2);
        EXPECT_TRUE(outcome.readDone);

        const PreviewRead local = ReadAsPreview(file);
        ASSERT_TRUE(local.directory.ok());
        ExpectSameEntries(outcome.entries, local.directory.entries);
        EXPECT_EQ(outcome.location.offset, local.location.offset);
        EXPECT_EQ(outcome.location.size, local.location.size);
        EXPECT_EQ(outcome.location.bytesInFront, sample->bytesInFront);
        EXPECT_EQ(outcome.location.zip64, sample->zip64);
        EXPECT_EQ(outcome.entryCount, outcome.entries.size());
        EXPECT_EQ(outcome.directorySize, local.location.size);
        if (sample->compareWithUnzip) {
            QStringList names;
            for (const ZipEntry& e : outcome.entries) {
                names << e.name;
            }
            EXPECT_EQ(names, UnzipNames(served + path, box.path()));
        }
        requests += 2 + sample->extraFetches;
    }

    // Every read was a range, answered as one; nothing asked for a whole archive.
    const QStringList log = nginx.accessLog();
    EXPECT_EQ(log.size(), requests) << log.join(u'\n').toStdString();
    for (const QString& line : log) {
        EXPECT_TRUE(line.startsWith(QStringLiteral("206 ")) && line.contains(u"\"bytes="))
            << line.toStdString();
    }
    if (transport == Transport::PlainProxy) {
        EXPECT_TRUE(proxy.error().contains(QStringLiteral("GET ") + nginx.url(QStringLiteral("/"))))
            << proxy.error().toStdString();
    } else if (transport == Transport::TlsTunnel || transport == Transport::ResolvedTunnel) {
        EXPECT_TRUE(
            proxy.error().contains(QStringLiteral("CONNECT 127.0.0.1:%1").arg(nginx.port())))
            << proxy.error().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, RemotePreview,
                         ::testing::Values(Transport::Plain, Transport::Tls, Transport::Ipv6Tls,
                                           Transport::PlainProxy, Transport::TlsTunnel,
                                           Transport::ResolvedTunnel),
                         [](const auto& info) { return std::string(TransportName(info.param)); });

// A loopback port whose connections the kernel accepts and nobody ever answers.
class SilentListener {
public:
    SilentListener() {
        fd_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (!fd_.valid() || ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(fd_.get(), 8) != 0 ||
            ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
    }
    int port() const { return port_; }

private:
    UniqueFd fd_;
    int port_ = 0;
};

// The archive's bytes, little-endian number `value` of `width` bytes written at `at`.
void PutLe(QByteArray& bytes, qsizetype at, quint32 value, int width) {
    for (int i = 0; i < width; ++i) {
        bytes[at + i] = char((value >> (8 * i)) & 0xFF);
    }
}

struct Damage {
    const char* name;
    std::function<void(QByteArray& file, const ZipDirectoryLocation& where)> apply;
};

TEST(RemotePreviewFailures, EachBrokenAnswerEndsWithItsReason) {
    Sandbox box;
    const QString served = box.file(QStringLiteral("served"));
    const QString source = box.file(QStringLiteral("source"));
    ASSERT_TRUE(QDir().mkpath(served) && QDir().mkpath(source));
    MakeSourceTree(source);
    // Larger than the tail: its first read does not start at byte 0.
    const QString big = served + QStringLiteral("/big.zip");
    ASSERT_TRUE(MakeSample({QStringLiteral("mixed"), big, source}, box.path()));
    // Smaller than the tail: its first read starts at byte 0, so that the fault server's one
    // fault meets the directory's read.
    const QString small = served + QStringLiteral("/small.zip");
    ASSERT_TRUE(QDir().mkpath(box.file(QStringLiteral("tree"))));
    ASSERT_TRUE(ZipSamples()[0].make(box.file(QStringLiteral("tree")), small));
    const QByteArray file = ReadFile(big);
    ASSERT_GT(file.size(), kZipTailLength);
    ASSERT_LT(ReadFile(small).size(), kZipTailLength);
    const PreviewRead read = ReadAsPreview(file);
    ASSERT_TRUE(read.directory.ok());
    const ZipDirectoryLocation where = read.location;
    const qint64 endRecord = file.size() - 22;

    // Served by nginx as they are: each must be refused with the directory reader's words.
    const Damage damages[] = {
        {"cut.zip",
         [](QByteArray& f, const ZipDirectoryLocation& w) { f.remove(w.offset + 100, 10); }},
        {"local-offset-past-directory.zip",
         [](QByteArray& f, const ZipDirectoryLocation& w) {
             PutLe(f, w.offset + 42, 0xFFFFFFF0, 4);
         }},
        {"entry-name-past-end.zip",
         [](QByteArray& f, const ZipDirectoryLocation& w) { PutLe(f, w.offset + 28, 0xFFFF, 2); }},
        {"directory-larger-than-file.zip",
         [endRecord](QByteArray& f, const ZipDirectoryLocation&) {
             PutLe(f, endRecord + 12, 0x7FFFFFF0, 4);
         }},
        {"not-a-zip.bin",
         [](QByteArray& f, const ZipDirectoryLocation&) { f = RandomBytes(f.size()); }},
    };
    for (const Damage& d : damages) {
        QByteArray damaged = file;
        d.apply(damaged, where);
        ASSERT_TRUE(WriteFile(served + u'/' + QLatin1String(d.name), damaged));
    }
    ASSERT_TRUE(WriteFile(served + QStringLiteral("/tiny.zip"), "PK\x05\x06tiny"));

    NginxPeer nginx(served);
    nginx.addNoRangesLocation(QStringLiteral("/whole/"));
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    NginxPeer untrusted(served);
    ServeTls(untrusted, "unknown-ca.pem");
    ASSERT_TRUE(untrusted.start()) << untrusted.error().toStdString();
    HttpFaultServer faults(served, 100);
    ASSERT_TRUE(faults.start(box.file(QStringLiteral("faults.log"))))
        << faults.error().toStdString();
    SilentListener silent;
    ASSERT_NE(silent.port(), 0);
    const int closedPort = FreeLoopbackPort();

    const qint64 size = file.size();
    const qint64 smallSize = ReadFile(small).size();
    const auto fault = [&](const char* mode, const char* name) {
        return faults.url(QStringLiteral("/%1/%2").arg(QLatin1String(mode), QLatin1String(name)));
    };
    constexpr std::chrono::milliseconds kShort{400};
    const struct {
        const char* name;
        QString url;
        qint64 size;
        Reason reason;
        int phase;           // ReadPhase when it failed
        const char* detail;  // a part of the detail
        std::chrono::milliseconds wait = ZipRangeRequest::kNoAnswerWait;
    } cases[] = {
        {"whole file for a range (200)", nginx.url(QStringLiteral("/whole/big.zip")), size,
         Reason::NoRanges, 1, "200 OK"},
        {"no such file (404)", nginx.url(QStringLiteral("/missing.zip")), size, Reason::ServerError,
         1, "HTTP/1.1 404 Not Found"},
        {"size unknown", nginx.url(QStringLiteral("/big.zip")), 0, Reason::NoRanges, 1, "size"},
        {"shorter than an end record", nginx.url(QStringLiteral("/tiny.zip")), 10, Reason::Damaged,
         1, "too short"},
        {"the file is larger than the record says", nginx.url(QStringLiteral("/big.zip")), size + 5,
         Reason::WrongRange, 1, "/"},
        {"the file is smaller than the record says", nginx.url(QStringLiteral("/big.zip")),
         size - 5, Reason::WrongRange, 1, "/"},
        {"directory cut short", nginx.url(QStringLiteral("/cut.zip")), size - 10, Reason::Damaged,
         1, "overlap"},
        {"an entry's local offset past the directory",
         nginx.url(QStringLiteral("/local-offset-past-directory.zip")), size, Reason::Damaged, 2,
         "local header"},
        {"an entry's name past the directory's end",
         nginx.url(QStringLiteral("/entry-name-past-end.zip")), size, Reason::Damaged, 2,
         "runs past"},
        {"a directory larger than the file",
         nginx.url(QStringLiteral("/directory-larger-than-file.zip")), size, Reason::Damaged, 1,
         "central directory"},
        {"not a ZIP archive", nginx.url(QStringLiteral("/not-a-zip.bin")), size, Reason::Damaged, 1,
         "not a ZIP archive"},
        {"tail: Content-Range starts late", fault("wrong-start", "big.zip"), size,
         Reason::WrongRange, 1, "/"},
        {"tail: Content-Range ends early", fault("wrong-end", "big.zip"), size, Reason::WrongRange,
         1, "/"},
        {"tail: Content-Range names another total", fault("wrong-total", "big.zip"), size,
         Reason::WrongRange, 1, "/"},
        {"tail: whole file (200)", fault("whole", "big.zip"), size, Reason::NoRanges, 1, "200"},
        {"tail: range in chunks", fault("range-chunked", "big.zip"), size, Reason::WrongRange, 1,
         "chunks"},
        {"tail: reset inside the body", fault("reset", "big.zip"), size, Reason::Connection, 1, ""},
        {"tail: stall inside the body", fault("stall", "big.zip"), size, Reason::NoAnswer, 1,
         "nothing came", kShort},
        {"directory: Content-Range names another total", fault("wrong-total", "small.zip"),
         smallSize, Reason::WrongRange, 2, "/"},
        {"directory: reset inside the body", fault("reset", "small.zip"), smallSize,
         Reason::Connection, 2, ""},
        {"directory: stall inside the body", fault("stall", "small.zip"), smallSize,
         Reason::NoAnswer, 2, "nothing came", kShort},
        {"accepts and stays silent", QStringLiteral("http://127.0.0.1:%1/a.zip").arg(silent.port()),
         size, Reason::NoAnswer, 1, "nothing came", kShort},
        {"nobody listens", QStringLiteral("http://127.0.0.1:%1/a.zip").arg(closedPort), size,
         Reason::Connection, 1, "connection refused (10061)"},
        {"certificate of an unknown CA", untrusted.url(QStringLiteral("/big.zip")), size,
         Reason::Connection, 1, "127.0.0.1"},
        {"ftp:// address", QStringLiteral("ftp://127.0.0.1:%1/a.zip").arg(closedPort), size,
         Reason::NoRanges, 1, "http"},
    };
    RemoteRig rig;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PreviewOutcome outcome = RunPreview(rig, ArchiveAt(c.url, c.size), c.wait);
        EXPECT_FALSE(outcome.listed);
        ASSERT_TRUE(outcome.failure.has_value());
        EXPECT_EQ(ReasonName(outcome.failure->reason), std::string(ReasonName(c.reason)))
            << *outcome.failure;
        EXPECT_TRUE(outcome.failure->detail.contains(QLatin1String(c.detail))) << *outcome.failure;
        EXPECT_EQ(outcome.readPhase, c.phase);
        EXPECT_TRUE(outcome.entries.isEmpty());
    }
}

// Abort, or the reader's end, while a read is under way: no signal, nothing left running.
TEST(RemotePreviewFailures, AbortAndDestructionStopEverySignal) {
    Sandbox box;
    HttpFaultServer faults({}, 100);
    ASSERT_TRUE(faults.start(box.file(QStringLiteral("faults.log"))))
        << faults.error().toStdString();
    const qint64 size = 200000;
    RemoteRig rig;
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroyed" : "aborted");
        // The stall comes once for each address.
        const QString name =
            destroy ? QStringLiteral("destroyed.zip") : QStringLiteral("aborted.zip");
        auto reader = std::make_unique<ZipPreviewReader>(rig.engine.sockets, rig.engine.settings);
        reader->setNoAnswerWait(std::chrono::milliseconds(200));
        int reports = 0;
        QObject::connect(reader.get(), &ZipPreviewReader::listed, [&] { ++reports; });
        QObject::connect(reader.get(), &ZipPreviewReader::failed,
                         [&](const RemoteArchiveFailure&) { ++reports; });
        reader->Start(ArchiveAt(faults.url(QStringLiteral("stall"), size, name), size));
        // The stall's first bytes have gone out: the read is under way.
        ASSERT_TRUE(WaitFor([&] {
            return ReadFile(box.file(QStringLiteral("faults.log")))
                .contains("STALL /stall/200000/" + name.toUtf8());
        }));
        if (destroy) {
            reader.reset();
        } else {
            reader->Abort();
        }
        // Past the no-answer wait: a timer left running would report now.
        WaitFor([] { return false; }, std::chrono::milliseconds(600));
        EXPECT_EQ(reports, 0);
    }
    // Started after an abort: nothing happens at all.
    ZipPreviewReader reader(rig.engine.sockets, rig.engine.settings);
    int reports = 0;
    QObject::connect(&reader, &ZipPreviewReader::phaseChanged, [&](int) { ++reports; });
    reader.Abort();
    reader.Start(
        ArchiveAt(faults.url(QStringLiteral("stall"), size, QStringLiteral("late.zip")), size));
    WaitFor([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(reports, 0);
    EXPECT_EQ(reader.ReadPhase, 0);
}

}  // namespace

#include "tools/benchmarks/bench_lists.h"

#include <QElapsedTimer>
#include <algorithm>

DownloadListState BigList(int count) {
    DownloadListState list;
    list.DownloadList.reserve(count + 1);
    for (int i = 1; i <= count; ++i) {
        DownloadRecord r;
        const bool ftp = i % 7 == 0;
        r.FileName = QStringLiteral("file%20number%20%1.tar.gz").arg(i);
        r.HostName = QStringLiteral("mirror%1.example.org").arg(i % 97);
        r.UrlPath = QStringLiteral("/pub/releases/%1").arg(r.FileName);
        r.Port = ftp ? 21 : 80;
        r.Protocol = ftp ? Protocol::Ftp : Protocol::Http;
        r.UserName = ftp ? QStringLiteral("anonymous") : QString();
        r.Url = QStringLiteral("%1://%2%3").arg(ftp ? "ftp" : "http", r.HostName, r.UrlPath);
        r.Reserved2 = QStringLiteral("0");
        r.Referer = i % 3 == 0 ? QStringLiteral("http://%1/pub/").arg(r.HostName) : QString();
        r.RangesSupported = FlagTrue;
        r.Priority = i % 3;
        r.FileSize = Currency::fromBytes(std::int64_t(i) * 7919 * 1024);
        r.Active = i % 64 == 0 ? FlagFalse : FlagTrue;
        r.DateAdded = OleDate(45000 + i % 300);
        r.ElapsedSeconds = float(i % 900);
        if (i % 2 == 0) {
            r.Completed = FlagTrue;
            r.Percent = 100;
            r.BytesDone = r.FileSize;
            r.SavePath = QStringLiteral("/home/user/Downloads/file number %1.tar.gz").arg(i);
            r.HasSavePath = FlagTrue;
        } else {
            const int segments = 1 + i % 8;
            r.Segments.redim(segments);
            r.SegmentCount = std::int16_t(segments);
            const std::int64_t part = r.FileSize.bytes() / segments;
            for (int k = 1; k <= segments; ++k) {
                SegmentRecord& s = *r.Segments.at(k);
                s.StartPos = Currency::fromBytes((k - 1) * part + part / 3);
                s.EndPos = Currency::fromBytes(k * part - 1);
                s.Length = Currency::fromBytes(part);
                s.Done = Currency::fromBytes(part / 3);
                s.InPlan = FlagTrue;
                s.PartFile = QStringLiteral("/home/user/.local/share/Brenloft/temp/%1%2.tmp")
                                 .arg(r.FileName)
                                 .arg(k, 3, 10, QLatin1Char('0'));
                s.State = SegmentState::Paused;
            }
            r.BytesDone = Currency::fromBytes(r.FileSize.bytes() / 3);
            r.Percent = 33.3f;
            r.RemainingSeconds = float(i % 5000);
            switch (i % 3) {
                case 0:
                    r.Failed = FlagTrue;
                    break;
                case 1:
                    r.Scheduled = 1;
                    break;
                default:
                    r.Paused = FlagTrue;
                    break;
            }
        }
        list.DownloadList.append(r);
    }
    list.DownloadCount = std::int16_t(count);
    for (int i = 1; i <= 20; ++i) {
        SiteLogin login;
        login.Site = QStringLiteral("mirror%1.example.org").arg(i);
        login.LoginUser = QStringLiteral("user%1").arg(i);
        login.LoginPassword = QStringLiteral("4243444546");
        login.LoginFlag = 1;
        list.SiteLoginList.append(login);
    }
    list.SiteLoginCount = 20;
    return list;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Measure(int runs, const std::function<void()>& step, const std::function<void()>& before) {
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        if (before) {
            before();
        }
        QElapsedTimer clock;
        clock.start();
        step();
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    return Median(times);
}

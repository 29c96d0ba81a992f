#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <utility>

class QLocalSocket;

// One Brenloft per user and application folder. The first start holds a lock file in the
// application folder and listens on a local socket. A later start sends its lines (an address
// each, or "--add") over that socket and ends only once the first one answers that it took
// them; so every line arrives once and in the order of the starts. Only while the first one is
// not yet listening do the lines wait in "templine.dat", appended to, for it to take.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& applicationFolder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first; it then listens for later starts.
    bool becomePrimary();
    // The lines later starts left in the hand-off file before this one listened, once.
    QStringList takeEarlyLines() { return std::exchange(early_, {}); }
    // Quitting: later starts leave their lines in the file for the next start, rather than
    // hand them to a program that would answer and then not take them.
    void stopListening() { server_.reset(); }
    // In a later start: hands the lines over, asks the first to raise its window and waits for
    // its answer. Returns why that failed, for the user, or an empty text.
    QString handOver(const QStringList& lines);

    static QString HandOffFileName() { return QStringLiteral("templine.dat"); }

signals:
    // A later start handed these lines over; the first one has answered that it took them.
    void handedOver(const QStringList& lines);

private:
    QString socketPath() const;
    void serve(QLocalSocket* peer);

    QString folder_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
    QStringList early_;
};

#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

// One Brenloft per user and application folder. The first start holds a lock file in the
// application folder and listens on a local socket; a later start tells it to raise its
// window, leaves its command line in "templine.dat" for the first one's next tick, and ends.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& applicationFolder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first; it then listens for later starts.
    bool becomePrimary();
    // In a later start: asks the first to raise its window and hands over the command line.
    // Returns whether the first one answered.
    bool handOver(const QString& commandLine);

    static QString HandOffFileName() { return QStringLiteral("templine.dat"); }

signals:
    void raiseRequested();

private:
    QString socketPath() const;

    QString folder_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
};

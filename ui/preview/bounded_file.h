#pragma once

#include <QFile>
#include <QIODevice>
#include <QString>

// A file read only up to a given length, which it reports as its size and its end. A download
// in progress is written where its bytes belong in a file of its full size, so past the first
// missing byte the file holds zeros (or bytes with gaps before them), not the file's content.
class BoundedFile : public QIODevice {
    Q_OBJECT
public:
    // `limit` below 0 takes the whole file; a file shorter than `limit` ends where it ends.
    BoundedFile(const QString& path, qint64 limit, QObject* parent = nullptr);

    // Opens for reading only; any other mode is refused.
    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return false; }
    qint64 size() const override { return limit_; }
    bool seek(qint64 pos) override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    QFile file_;
    qint64 wanted_;
    qint64 limit_ = 0;  // fixed when opened
};

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QtGlobal>

// Reads a ZIP archive's table of contents from the few bytes a remote preview fetches: first
// the file's tail, then the central directory. Pure functions over bytes; nothing read from
// the archive is trusted, and a damaged archive gives an error text.

// The central directory's place in the file, from the end record.
struct ZipDirectoryLocation {
    qint64 offset = 0;        // where the directory starts, counted from the file's first byte
    qint64 size = 0;          // its length in bytes
    qint64 entryCount = 0;    // entries it holds
    qint64 bytesInFront = 0;  // data before the archive proper (a stub or prepended bytes)
    bool zip64 = false;
};

struct ZipTailResult {
    enum class Status {
        Found,     // `location` holds the directory's place
        NeedMore,  // the ZIP64 records lie before the tail: fetch [fetchOffset, +fetchLength),
                   // put it in front of the tail and ask again
        Failed,    // `error` says why
    };
    Status status = Status::Failed;
    ZipDirectoryLocation location;
    qint64 fetchOffset = 0;
    qint64 fetchLength = 0;
    QString error;
};

// The end record holds at most a 65,535-byte comment after its 22 bytes.
constexpr qint64 kZipTailLength = 22 + 65535;
// A larger directory (about 1.4 million entries) is taken as hostile.
constexpr qint64 kZipDirectoryLimit = 64 * 1024 * 1024;

// How many bytes at the file's end the first read takes.
inline qint64 ZipTailLength(qint64 fileSize) {
    return qMin(fileSize, kZipTailLength);
}

// `tail` is the file's last tail.size() bytes (the whole file when shorter).
ZipTailResult FindZipDirectory(qint64 fileSize, const QByteArray& tail);

// One member as the central directory describes it.
struct ZipEntry {
    QString name;  // "/" separates folders; a folder's name ends with "/"
    quint64 compressedSize = 0;
    quint64 uncompressedSize = 0;
    quint32 crc32 = 0;
    quint16 method = 0;  // 0 stored, 8 deflated, ...
    quint16 flags = 0;   // the general-purpose bits
    quint16 madeBy = 0;  // the high byte names the system whose attributes these are
    quint16 dosTime = 0;
    quint16 dosDate = 0;
    quint32 externalAttributes = 0;
    qint64 localHeaderOffset = 0;  // counted from the file's first byte
    // Why the member's name is refused before anything else is done with it (a control
    // character: `name` then shows each as U+FFFD); empty when it is not.
    QString nameRefused;

    bool encrypted() const { return flags & 0x0001; }
    bool utf8Name() const { return flags & 0x0800; }
    bool isFolder() const { return name.endsWith(u'/'); }
    // The Unix mode (type and permission bits), 0 when the archive was made elsewhere.
    quint32 unixMode() const;
    bool isSymlink() const;
    // The stored local time; invalid when the stored date is.
    QDateTime modified() const;
};

struct ZipDirectoryResult {
    QList<ZipEntry> entries;
    QString error;  // empty when every entry was read
    bool ok() const { return error.isEmpty(); }
};

// `directory` is exactly location.size bytes read at location.offset.
ZipDirectoryResult ReadZipDirectory(const QByteArray& directory,
                                    const ZipDirectoryLocation& location, qint64 fileSize);
// The same, from an archive on disk: extracting it refuses what its preview refuses.
ZipDirectoryResult ReadZipDirectoryFile(const QString& path);

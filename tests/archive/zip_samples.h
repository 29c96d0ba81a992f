#pragma once

// Archives made by Info-ZIP's zip and by Python's zipfile (directory_samples.py), with what a
// reading of their directory must find; read from disk by the directory tests and from a
// server by the remote preview's.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <ostream>
#include <vector>

// Runs a program to its end; its standard output, or a null array when it did not finish with
// an exit code up to `worstExit` (unzip says 1 for warnings such as data in front).
QByteArray RunProgram(const QString& program, const QStringList& arguments, const QString& folder,
                      int worstExit = 0);

struct ZipSample {
    const char* name;
    // Makes the archive `out`; `root` is an empty folder for the files it packs.
    std::function<bool(const QString& root, const QString& out)> make;
    bool zip64;
    int extraFetches;  // reads before the tail that the ZIP64 records take
    qint64 bytesInFront;
    bool compareWithUnzip;  // names unzip -Z1 prints as they are stored (ASCII only)
    int encrypted;          // members with the encryption flag
    bool slow;              // takes seconds to make and read
};

const std::vector<ZipSample>& ZipSamples();

// The names `unzip -Z1` lists, in directory order.
QStringList UnzipNames(const QString& archive, const QString& folder);

// Names the case in test listings, in place of its bytes.
inline void PrintTo(const ZipSample& c, std::ostream* out) {
    *out << c.name;
}

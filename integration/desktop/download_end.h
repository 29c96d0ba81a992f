#pragma once

#include <QString>
#include <cstdint>
#include <vector>

class TextTable;

// A download that ended in a way the user wants to hear of while looking elsewhere.
struct DownloadEnd {
    enum class Kind : std::uint8_t { Finished, Failed, ChecksumFailed };
    Kind kind = Kind::Finished;
    QString name;    // the file's name, as the lists show it
    QString path;    // where the file is (finished or failing its checksum)
    QString reason;  // why it failed, in the words the lists show
};

// What one notification says of the downloads that ended together.
struct EndsNotice {
    QString summary;
    QString body;
};

// One end alone says what ended and its file (and why it failed); several say how many of each
// kind ended ("12 downloads finished, 1 download failed") and name the first files. `markup`
// when the server reads the body as markup: the names are escaped for it.
EndsNotice DescribeEnds(const std::vector<DownloadEnd>& ends, const TextTable& texts, bool markup);

#include <gtest/gtest.h>

#include <QtEndian>
#include <functional>
#include <ostream>

#include "tests/archive/read_as_preview.h"

// Archives built byte by byte: the ZIP64 cases no tool writes small, and damaged or hostile
// directories, each of which must end in an error text without reading past the bytes held.

namespace {

template <typename T>
QByteArray Le(T value) {
    QByteArray bytes(sizeof(T), '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

struct Member {
    QByteArray name = "a.txt";
    quint32 compressed = 10;
    quint32 uncompressed = 20;
    quint32 offset = 0;
    QByteArray extra = {};
    QByteArray comment = {};
};

QByteArray Entry(const Member& m) {
    return Le<quint32>(0x02014b50) + Le<quint16>(0x031e) + Le<quint16>(20) + Le<quint16>(0) +
           Le<quint16>(8) + Le<quint16>(0x7b40) + Le<quint16>(0x526e) + Le<quint32>(0x1234abcd) +
           Le<quint32>(m.compressed) + Le<quint32>(m.uncompressed) +
           Le<quint16>(quint16(m.name.size())) + Le<quint16>(quint16(m.extra.size())) +
           Le<quint16>(quint16(m.comment.size())) + Le<quint16>(0) + Le<quint16>(0) +
           Le<quint32>(0100644u << 16) + Le<quint32>(m.offset) + m.name + m.extra + m.comment;
}

// 1,000 bytes of member data (the directory reader never looks at them), the directory, the
// ZIP64 records when asked for, and the end record with its comment.
QByteArray Archive(const QList<Member>& members, bool zip64 = false,
                   const QByteArray& comment = {}) {
    QByteArray file(1000, 'd');
    QByteArray directory;
    for (const Member& m : members) {
        directory += Entry(m);
    }
    const auto offset = quint32(file.size());
    file += directory;
    const auto count = quint16(members.size());
    if (zip64) {
        const auto record = quint64(file.size());
        file += Le<quint32>(0x06064b50) + Le<quint64>(44) + Le<quint16>(45) + Le<quint16>(45) +
                Le<quint32>(0) + Le<quint32>(0) + Le<quint64>(count) + Le<quint64>(count) +
                Le<quint64>(directory.size()) + Le<quint64>(offset);
        file += Le<quint32>(0x07064b50) + Le<quint32>(0) + Le<quint64>(record) + Le<quint32>(1);
    }
    file += Le<quint32>(0x06054b50) + Le<quint16>(0) + Le<quint16>(0) +
            Le<quint16>(zip64 ? 0xFFFF : count) + Le<quint16>(zip64 ? 0xFFFF : count) +
            Le<quint32>(zip64 ? 0xFFFFFFFF : quint32(directory.size())) +
            Le<quint32>(zip64 ? 0xFFFFFFFF : offset) + Le<quint16>(quint16(comment.size())) +
            comment;
    return file;
}

QByteArray Zip64Extra(const QList<quint64>& values) {
    QByteArray extra = Le<quint16>(1) + Le<quint16>(quint16(values.size() * 8));
    for (quint64 v : values) {
        extra += Le<quint64>(v);
    }
    return extra;
}

const QList<Member> kTwo{{.name = "a.txt"}, {.name = "b/c.txt", .offset = 100}};

// Where a patch lands: a record found by its signature, plus an offset into it.
qsizetype EndRecord(const QByteArray& f) {
    return f.lastIndexOf("PK\x05\x06");
}
qsizetype Zip64Record(const QByteArray& f) {
    return f.lastIndexOf("PK\x06\x06");
}
qsizetype Locator(const QByteArray& f) {
    return f.lastIndexOf("PK\x06\x07");
}
qsizetype FirstEntry(const QByteArray&) {
    return 1000;
}
qsizetype SecondEntry(const QByteArray& f) {
    return f.indexOf("PK\x01\x02", 1001);
}

struct Patch {
    qsizetype (*record)(const QByteArray&);
    qsizetype at;
    quint64 value;
    int width;
};

QByteArray Patched(QByteArray f, std::initializer_list<Patch> patches) {
    for (const Patch& p : patches) {
        const QByteArray value = Le<quint64>(p.value);
        f.replace(p.record(f) + p.at, p.width, value.left(p.width));
    }
    return f;
}

const QByteArray kPlain = Archive(kTwo);
const QByteArray kZip64 = Archive(kTwo, true);
constexpr quint32 kMarker = 0xFFFFFFFF;

struct Damage {
    const char* name;
    QByteArray file;
    const char* error;
};

const Damage kDamages[] = {
    {"empty_file", {}, "too short"},
    {"shorter_than_an_end_record", "PK\x05\x06", "too short"},
    {"no_end_record", QByteArray(70000, 'x'), "not a ZIP archive"},
    {"end_record_comment_past_the_file", Patched(kPlain, {{EndRecord, 20, 5, 2}}),
     "not a ZIP archive"},
    {"count_more_than_the_directory_holds",
     Patched(kPlain, {{EndRecord, 8, 500, 2}, {EndRecord, 10, 500, 2}}), "counts more entries"},
    {"directory_larger_than_the_file", Patched(kPlain, {{EndRecord, 12, 0xFFFFFF, 4}}),
     "overlap its end record"},
    {"directory_offset_past_its_end_record", Patched(kPlain, {{EndRecord, 16, 0x7FFFFFFF, 4}}),
     "overlap its end record"},
    {"split_over_disks", Patched(kPlain, {{EndRecord, 6, 1, 2}}), "several disks"},
    {"zip64_marker_without_locator", Patched(kPlain, {{EndRecord, 10, 0xFFFF, 2}}),
     "ZIP64 records that are missing"},
    {"zip64_count_huge",
     Patched(kZip64, {{Zip64Record, 24, 1ull << 62, 8}, {Zip64Record, 32, 1ull << 62, 8}}),
     "counts more entries"},
    {"zip64_directory_size_huge", Patched(kZip64, {{Zip64Record, 40, 1ull << 40, 8}}),
     "larger than 64 MiB"},
    {"zip64_directory_offset_wraps", Patched(kZip64, {{Zip64Record, 48, ~0ull - 10, 8}}),
     "overlap its end record"},
    {"zip64_locator_points_outside",
     Patched(kZip64, {{Zip64Record, 0, 0, 4}, {Locator, 8, 1ull << 60, 8}}),
     "locator points outside"},
    {"zip64_record_overlapping_its_locator",
     Patched(kZip64, {{Zip64Record, 0, 0, 4}, {Locator, 8, quint64(Locator(kZip64) - 13), 8}}),
     "locator points outside"},
    {"zip64_locator_points_at_something_else",
     Patched(kZip64, {{Zip64Record, 0, 0, 4}, {Locator, 8, 0, 8}}), "no ZIP64 end record where"},
    {"wrong_entry_signature", Patched(kPlain, {{SecondEntry, 0, 0x02014b51, 4}}),
     "entry 2: no central directory signature"},
    {"name_runs_past_the_directory", Patched(kPlain, {{SecondEntry, 28, 0xFFFF, 2}}),
     "entry 2: its name, extra field or comment runs past"},
    {"comment_runs_past_the_directory", Patched(kPlain, {{FirstEntry, 32, 200, 2}}),
     "entry 1: its name, extra field or comment runs past"},
    {"local_header_past_the_directory_start", Archive({{.offset = 990}}),
     "entry 1: its local header"},
    {"compressed_data_past_the_directory_start", Archive({{.compressed = 0x7FFFFFF0}}),
     "entry 1: its data would run past"},
    {"zip64_extra_missing", Archive({{.uncompressed = kMarker}}), "entry 1: its ZIP64 extra field"},
    {"zip64_extra_too_short",
     Archive({{.compressed = kMarker, .uncompressed = kMarker, .extra = Zip64Extra({5})}}),
     "entry 1: its ZIP64 extra field"},
    {"extra_field_header_runs_past_its_area",
     Archive(
         {{.uncompressed = kMarker, .extra = Le<quint16>(1) + Le<quint16>(100) + Le<quint64>(5)}}),
     "entry 1: its ZIP64 extra field"},
};

// Names the case in test listings, in place of its bytes.
void PrintTo(const Damage& c, std::ostream* out) {
    *out << c.name;
}

class ZipDamage : public ::testing::TestWithParam<Damage> {};

TEST_P(ZipDamage, EndsInAnErrorText) {
    const PreviewRead read = ReadAsPreview(GetParam().file);
    const QString error = read.error.isEmpty() ? read.directory.error : read.error;
    EXPECT_TRUE(error.contains(QLatin1String(GetParam().error))) << error.toStdString();
    EXPECT_TRUE(read.directory.entries.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Directories, ZipDamage, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ZipDamage, EveryCutOfTheDirectoryAndEveryHostileLocationIsRefused) {
    const QByteArray file = Archive(kTwo);
    const PreviewRead whole = ReadAsPreview(file);
    ASSERT_TRUE(whole.directory.ok());
    const QByteArray directory = file.mid(whole.location.offset, whole.location.size);
    for (qsizetype cut = 0; cut < directory.size(); ++cut) {
        EXPECT_FALSE(ReadZipDirectory(directory.left(cut), whole.location, file.size()).ok());
        ZipDirectoryLocation shorter = whole.location;
        shorter.size = cut;
        EXPECT_FALSE(ReadZipDirectory(directory.left(cut), shorter, file.size()).ok()) << cut;
    }
    const std::function<void(ZipDirectoryLocation&)> hostile[] = {
        [](ZipDirectoryLocation& l) { l.offset = -1; },
        [](ZipDirectoryLocation& l) { l.offset += 5000; },
        [](ZipDirectoryLocation& l) { l.bytesInFront = -1; },
        [](ZipDirectoryLocation& l) { l.bytesInFront = l.offset + 1; },
        [](ZipDirectoryLocation& l) { l.entryCount = 1'000'000; },
        [](ZipDirectoryLocation& l) { l.entryCount = -1; },
    };
    for (const auto& damage : hostile) {
        ZipDirectoryLocation location = whole.location;
        damage(location);
        EXPECT_FALSE(ReadZipDirectory(directory, location, file.size()).ok());
    }
}

struct Valid {
    const char* name;
    QByteArray file;
    QList<quint64> uncompressed;
    int extraFetches;
};

TEST(ZipBuilt, ReadsWhatNoToolWritesSmall) {
    const QByteArray longComment =
        QByteArray(65535 - 22, 'c') + Le<quint32>(0x06054b50) + QByteArray(18, '\0');
    const Valid valid[] = {
        {"empty archive", Archive({}), {}, 0},
        {"sizes and offset over 4 GiB in the ZIP64 extra",
         Archive({{.compressed = 0xFFFFFFFF,
                   .uncompressed = 0xFFFFFFFF,
                   .offset = 0xFFFFFFFF,
                   .extra = Le<quint16>(0x5455) + Le<quint16>(1) + QByteArray(1, '\1') +
                            Zip64Extra({5ull << 30, 100, 0})}}),
         {5ull << 30},
         0},
        {"a false end record ending the comment",
         Archive(kTwo, false, "see PK\x05\x06 there" + QByteArray(18, '\0')),
         {20, 20},
         0},
        {"ZIP64 records before the tail", Archive(kTwo, true, longComment), {20, 20}, 1},
    };
    for (const Valid& v : valid) {
        SCOPED_TRACE(v.name);
        const PreviewRead read = ReadAsPreview(v.file);
        ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
        ASSERT_TRUE(read.directory.ok()) << read.directory.error.toStdString();
        EXPECT_EQ(read.extraFetches, v.extraFetches);
        QList<quint64> sizes;
        for (const ZipEntry& e : read.directory.entries) {
            sizes.append(e.uncompressedSize);
            EXPECT_EQ(e.localHeaderOffset, e.name == "b/c.txt" ? 100 : 0);
            EXPECT_EQ(e.compressedSize, e.uncompressedSize > 0xFFFFFFFF ? 100u : 10u);
        }
        EXPECT_EQ(sizes, v.uncompressed);
    }
}

// Without the UTF-8 flag, a name is read as unzip and libzip read it: a Unicode path field that
// still matches the stored name first, then UTF-8 when the bytes are UTF-8, else code page 437.
TEST(ZipBuilt, NamesWithoutTheUtf8Flag) {
    const auto unicodePath = [](const QByteArray& utf8, quint32 crc) {
        return Le<quint16>(0x7075) + Le<quint16>(quint16(5 + utf8.size())) + QByteArray(1, '\1') +
               Le<quint32>(crc) + utf8;
    };
    const QByteArray stored = "x\x82.txt";
    const QByteArray japanese = "\xe6\x97\xa5\xe6\x9c\xac.txt";
    const quint32 storedCrc = 0x3e0e93a7;  // CRC-32 of "x\x82.txt"
    const struct {
        Member member;
        QString name;
    } cases[] = {
        {{.name = "caf\x82.txt"}, QStringLiteral("caf\u00e9.txt")},
        {{.name = "na\xc3\xafve.txt"}, QStringLiteral("na\u00efve.txt")},
        {{.name = stored, .extra = unicodePath(japanese, storedCrc)},
         QStringLiteral("\u65e5\u672c.txt")},
        {{.name = stored, .extra = unicodePath(japanese, storedCrc + 1)},
         QStringLiteral("x\u00e9.txt")},
    };
    for (const auto& c : cases) {
        const PreviewRead read = ReadAsPreview(Archive({c.member}));
        ASSERT_TRUE(read.directory.ok()) << read.directory.error.toStdString();
        EXPECT_EQ(read.directory.entries.value(0).name, c.name);
    }
}

}  // namespace

#include "archive/raw_inflater.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "tests/support/test_files.h"

// The member fetch's inflater takes a member's deflated bytes as the network cuts them.

namespace {

// Raw deflate, as a ZIP member holds it.
QByteArray Deflate(const QByteArray& data) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

struct Fed {
    RawInflater::Status last = RawInflater::Status::More;
    QByteArray out;
};

// Feeds `in` in pieces of `piece` bytes, stopping at the first status other than More.
Fed Feed(const QByteArray& in, qsizetype piece, qsizetype outputLimit = -1) {
    RawInflater inflater;
    Fed fed;
    const RawInflater::Output take = [&](const char* bytes, size_t length) {
        if (outputLimit >= 0 && fed.out.size() + qsizetype(length) > outputLimit) {
            return false;
        }
        fed.out.append(bytes, qsizetype(length));
        return true;
    };
    for (qsizetype at = 0; at < in.size(); at += piece) {
        fed.last = inflater.feed(in.constData() + at, size_t(qMin(piece, in.size() - at)), take);
        if (fed.last != RawInflater::Status::More) {
            break;
        }
    }
    return fed;
}

TEST(RawInflater, InflatesWhateverTheCutsAndRefusesWhatIsWrong) {
    const QByteArray text = QByteArray("a line that deflates well\n").repeated(20000);
    const QByteArray mixed = RandomBytes(300000) + text;
    // The first block's type bits set to the reserved 11.
    QByteArray damaged = Deflate(text);
    damaged[0] = char(damaged[0] | 0x06);
    const struct {
        const char* name;
        QByteArray in;
        qsizetype piece;
        qsizetype outputLimit;
        RawInflater::Status status;
        QByteArray out;  // what came out, when the status is End
    } cases[] = {
        {"text in one piece", Deflate(text), 1 << 30, -1, RawInflater::Status::End, text},
        {"text a byte at a time", Deflate(text), 1, -1, RawInflater::Status::End, text},
        {"random and text in network-sized pieces", Deflate(mixed), 16384, -1,
         RawInflater::Status::End, mixed},
        {"nothing at all", Deflate({}), 1, -1, RawInflater::Status::End, {}},
        {"bytes after the end",
         Deflate(text) + "tail",
         1 << 30,
         -1,
         RawInflater::Status::Error,
         {}},
        {"the output stops it", Deflate(text), 4096, 1000, RawInflater::Status::Stopped, {}},
        {"not deflate at all", QByteArray(64, '\xFF'), 7, -1, RawInflater::Status::Error, {}},
        {"a reserved block type", damaged, 512, -1, RawInflater::Status::Error, {}},
        {"cut short", Deflate(mixed).left(1000), 100, -1, RawInflater::Status::More, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Fed fed = Feed(c.in, c.piece, c.outputLimit);
        EXPECT_EQ(int(fed.last), int(c.status));
        if (c.status == RawInflater::Status::End) {
            EXPECT_EQ(fed.out, c.out);
        }
    }
}

}  // namespace

// Writing the ID3v2 tag of a DSF through the reader: replace, append, remove,
// and refusals that leave the bytes alone. (Real files on disk, read back by an
// independent tag reader, are covered by the tag tests.)
#include <gtest/gtest.h>

#include "tests/dsdfile/DsdTestSupport.h"

using namespace dsdtest;

namespace {

Bytes Tag(size_t size, uint8_t fill) {
    Bytes tag = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0};
    tag.resize(size, fill);
    return tag;
}

// Opens `bytes` for file information (output modes 0) through `reader`.
MemoryReader* OpenForInfo(CDSDFile& file, Bytes bytes) {
    auto* reader = new MemoryReader(std::move(bytes));
    EXPECT_TRUE(file.Open(reader, 1, 0, 0, FileNameOfType(KW_T("dsf"))));
    return reader;
}

TEST(DsfSaveTag, ReplacesAppendsAndRemoves) {
    const auto withTag = ReadBytes(TestDataPath("with-id3.dsf"));
    const auto plain = ReadBytes(TestDataPath("without-id3.dsf"));
    DsfImage beyond;  // a metadata offset beyond the end appends
    beyond.blockSize = 16;
    beyond.channelData = PatternData(2, 16);
    beyond.metadataOffsetOverride = 1 << 20;
    const struct {
        Bytes original;
        size_t tagSize;
        uint64_t audioEnd;  // where the tag goes
    } cases[] = {{withTag, 300, 92}, {withTag, 0, 92}, {plain, 50, plain.size()}, {beyond.Build(), 20, 92 + 32}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.original.size());
        CDSDFile file;
        MemoryReader* reader = OpenForInfo(file, c.original);
        const auto tag = Tag(c.tagSize, 0xAB);
        ASSERT_TRUE(file.SaveTag(c.tagSize ? tag.data() : nullptr, c.tagSize));
        EXPECT_EQ(file.MetadataOffset(), c.tagSize ? c.audioEnd : 0);
        const Bytes& bytes = reader->bytes_;
        ASSERT_EQ(bytes.size(), c.audioEnd + c.tagSize);
        EXPECT_TRUE(std::equal(bytes.begin() + 28, bytes.begin() + c.audioEnd, c.original.begin() + 28));
        EXPECT_EQ(GetLe(bytes.data() + 12), bytes.size());
        EXPECT_EQ(GetLe(bytes.data() + 20), c.tagSize ? c.audioEnd : 0);
        EXPECT_EQ(Bytes(bytes.begin() + c.audioEnd, bytes.end()), c.tagSize ? tag : Bytes());
    }
}

TEST(DsfSaveTag, DamagedOffsetsAndFailedWritesLeaveTheFileUntouched) {
    DsfImage image;
    image.blockSize = 16;
    image.channelData = PatternData(2, 32);
    Bytes tagged = Cat({image.Build(), Tag(40, 0x33)});
    tagged[12] = static_cast<uint8_t>(tagged.size());  // the file size covers the tag
    Bytes inAudio = tagged;  // an "ID3" that lies in the audio
    std::copy_n("ID3", 3, inAudio.begin() + 92 + 40);
    const auto tag = Tag(10, 0x44);
    // Offsets into the header, into the audio, onto the "ID3" in the audio, and
    // one past the real tag: none may cause a write.
    const std::pair<Bytes, uint64_t> cases[] = {{tagged, 50}, {tagged, 92 + 10}, {inAudio, 92 + 40}, {tagged, 92 + 64 + 1}};
    for (auto [bytes, offset] : cases) {
        SCOPED_TRACE(offset);
        for (int i = 0; i < 8; ++i) bytes[20 + i] = static_cast<uint8_t>(offset >> (8 * i));
        CDSDFile file;
        MemoryReader* reader = OpenForInfo(file, bytes);
        EXPECT_FALSE(file.SaveTag(tag.data(), tag.size()));
        EXPECT_FALSE(file.SaveTag(nullptr, 0));
        EXPECT_EQ(reader->bytes_, bytes);
    }
    // Nothing open, or a file that is not "DSD ".
    CDSDFile file;
    EXPECT_FALSE(file.SaveTag(tag.data(), tag.size()));
    Bytes notDsd = tagged;
    notDsd[0] = 'X';
    EXPECT_FALSE(file.Open(new MemoryReader(notDsd), 1, 0, 0, FileNameOfType(KW_T("dsf"))));
    EXPECT_FALSE(file.SaveTag(tag.data(), tag.size()));
    // A reader that refuses writes: failure, and the header is not changed.
    const auto plain = ReadBytes(TestDataPath("without-id3.dsf"));
    MemoryReader* reader = OpenForInfo(file, plain);
    reader->readOnly = true;
    EXPECT_FALSE(file.SaveTag(tag.data(), tag.size()));
    EXPECT_EQ(file.MetadataOffset(), 0u);
    EXPECT_EQ(reader->bytes_, plain);
    // A short tag write leaves the DSD chunk as it was.
    reader = OpenForInfo(file, plain);
    reader->writeLimit = 4;
    EXPECT_FALSE(file.SaveTag(tag.data(), tag.size()));
    EXPECT_EQ(GetLe(reader->bytes_.data() + 20), 0u);
}

}  // namespace

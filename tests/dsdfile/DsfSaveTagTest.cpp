#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dsdfile/CDSDFile.h"
#include "host/common/KwFileReader.h"
#include "tests/dsdfile/DsfTestSupport.h"

using namespace dsftest;
namespace fs = std::filesystem;

namespace {

class DsfSaveTag : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("dsdfile-savetag-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A writable copy of `bytes` opened as a DSF for file information (output modes 0).
    fs::path Copy(const std::vector<uint8_t>& bytes, const char* name = "file.dsf") {
        const fs::path path = dir_ / name;
        WriteFile(path, bytes);
        return path;
    }
    bool Open(CDSDFile& file, const fs::path& path) {
        auto* reader = new KwFileReader(KwFromUtf8(path.string()));
        if (!reader->Open()) {
            KwDestroy(reader);
            return false;
        }
        return file.Open(reader, 1, 0, 0, FileNameOfType(KW_T("dsf")));
    }

    fs::path dir_;
};

std::vector<uint8_t> Tag(size_t size, uint8_t fill) {
    std::vector<uint8_t> tag = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0};
    tag.resize(size, fill);
    return tag;
}

}  // namespace

TEST_F(DsfSaveTag, ReplacesAppendsAndRemoves) {
    // Replace the tag of a real file.
    const auto original = ReadFile(TestDataPath("with-id3.dsf"));
    fs::path path = Copy(original);
    {
        CDSDFile file;
        ASSERT_TRUE(Open(file, path));
        const auto tag = Tag(300, 0xAB);
        ASSERT_TRUE(file.SaveTag(tag.data(), tag.size()));
        EXPECT_EQ(file.MetadataOffset(), 92u);
    }
    auto bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), 92u + 300);
    EXPECT_TRUE(std::equal(original.begin() + 28, original.begin() + 92, bytes.begin() + 28));
    EXPECT_EQ(GetLe(bytes.data() + 12, 8), bytes.size());
    EXPECT_EQ(GetLe(bytes.data() + 20, 8), 92u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 92, bytes.end()), Tag(300, 0xAB));

    // Remove it: cut at the tag, metadata offset 0, new total size.
    {
        CDSDFile file;
        ASSERT_TRUE(Open(file, path));
        ASSERT_TRUE(file.SaveTag(nullptr, 0));
        EXPECT_EQ(file.MetadataOffset(), 0u);
    }
    bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), 92u);
    EXPECT_EQ(GetLe(bytes.data() + 12, 8), 92u);
    EXPECT_EQ(GetLe(bytes.data() + 20, 8), 0u);

    // Append to a file without a tag; the audio stays as it was.
    const auto plain = ReadFile(TestDataPath("without-id3.dsf"));
    path = Copy(plain, "plain.dsf");
    {
        CDSDFile file;
        ASSERT_TRUE(Open(file, path));
        const auto tag = Tag(50, 0x11);
        ASSERT_TRUE(file.SaveTag(tag.data(), tag.size()));
        EXPECT_EQ(file.DataStart(), 92);
        EXPECT_EQ(file.DataLength(), 4096);
    }
    bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), plain.size() + 50);
    EXPECT_TRUE(std::equal(plain.begin() + 28, plain.end(), bytes.begin() + 28));
    EXPECT_EQ(GetLe(bytes.data() + 20, 8), plain.size());
    EXPECT_EQ(GetLe(bytes.data() + 12, 8), plain.size() + 50);
}

TEST_F(DsfSaveTag, OffsetAtOrBeyondTheEndAppends) {
    DsfImage image;
    image.blockSize = 16;
    image.channelData = PatternData(2, 16);
    image.metadataOffsetOverride = 1 << 20;
    const auto original = image.Build();
    const fs::path path = Copy(original);
    CDSDFile file;
    ASSERT_TRUE(Open(file, path));
    const auto tag = Tag(20, 0x22);
    ASSERT_TRUE(file.SaveTag(tag.data(), tag.size()));
    const auto bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), original.size() + 20);
    EXPECT_EQ(GetLe(bytes.data() + 20, 8), original.size());
}

TEST_F(DsfSaveTag, DamagedOffsetsLeaveTheFileUntouched) {
    DsfImage image;
    image.blockSize = 16;
    image.channelData = PatternData(2, 32);
    image.tag = Tag(40, 0x33);
    const auto tag = Tag(10, 0x44);

    // Offsets into the header, into the audio, and onto an "ID3" that lies in
    // the audio: none may cause a write.
    std::vector<uint8_t> inAudio = image.Build();
    inAudio[92 + 40] = 'I';
    inAudio[92 + 41] = 'D';
    inAudio[92 + 42] = '3';
    struct Case {
        std::vector<uint8_t> bytes;
        uint64_t offset;
    } cases[] = {{image.Build(), 50}, {image.Build(), 92 + 10}, {inAudio, 92 + 40}, {image.Build(), 92 + 64 + 1}};
    for (auto& c : cases) {
        for (int i = 0; i < 8; ++i) c.bytes[20 + i] = static_cast<uint8_t>(c.offset >> (8 * i));
        SCOPED_TRACE(c.offset);
        const fs::path path = Copy(c.bytes);
        {
            CDSDFile file;
            ASSERT_TRUE(Open(file, path));
            EXPECT_FALSE(file.SaveTag(tag.data(), tag.size()));
            EXPECT_FALSE(file.SaveTag(nullptr, 0));
        }
        EXPECT_EQ(ReadFile(path), c.bytes);
    }
}

TEST_F(DsfSaveTag, RefusesWithoutAnOpenDsf) {
    const auto tag = Tag(10, 0x55);
    CDSDFile file;
    EXPECT_FALSE(file.SaveTag(tag.data(), tag.size()));

    // A file that is not "DSD " never opens and is never written.
    auto bytes = ReadFile(TestDataPath("with-id3.dsf"));
    bytes[0] = 'X';
    const fs::path path = Copy(bytes);
    ASSERT_FALSE(Open(file, path));
    EXPECT_FALSE(file.SaveTag(tag.data(), tag.size()));
    EXPECT_EQ(ReadFile(path), bytes);

    // A reader that refuses writes: failure, and the header is not changed.
    auto* reader = new MemoryReader(ReadFile(TestDataPath("without-id3.dsf")));
    reader->readOnly = true;
    ASSERT_TRUE(file.Open(reader, 1, 0, 0, FileNameOfType(KW_T("dsf"))));
    EXPECT_FALSE(file.SaveTag(tag.data(), tag.size()));
    EXPECT_EQ(file.MetadataOffset(), 0u);
    EXPECT_EQ(reader->Bytes(), ReadFile(TestDataPath("without-id3.dsf")));

    // A short tag write leaves the DSD chunk as it was.
    reader = new MemoryReader(ReadFile(TestDataPath("without-id3.dsf")));
    reader->writeLimit = 4;
    ASSERT_TRUE(file.Open(reader, 1, 0, 0, FileNameOfType(KW_T("dsf"))));
    EXPECT_FALSE(file.SaveTag(tag.data(), tag.size()));
    EXPECT_EQ(GetLe(reader->Bytes().data() + 20, 8), 0u);
}

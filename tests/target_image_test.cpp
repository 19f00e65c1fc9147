// The Quaz image: its two fixed blocks, where every carried source byte
// lands, and the two checksums. The expected image is composed here from
// the layout of the Quaz format on its own, not from the core's tables.
#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "melno2quaz.h"
#include "source_save.h"
#include "target_save.h"
#include "quaz_model.h"
#include "test_support.h"

namespace {

using m2q_test::Bytes;
using m2q_test::get_le32;
using m2q_test::put_le32;

using namespace m2q_model;

Bytes expected_target(const Bytes& source) {
    Bytes target;
    quaz_of(source, &target);
    return target;
}

Bytes core_target(const Bytes& source) {
    Bytes image(TARGET_SIZE, 0);
    fill_target(image.data(), source.data());
    seal_target(image.data());
    return image;
}

// Compares whole images and names the first differing offset.
::testing::AssertionResult same_image(const Bytes& expected, const Bytes& actual) {
    if (expected.size() != actual.size()) {
        return ::testing::AssertionFailure()
               << "size " << actual.size() << ", expected " << expected.size();
    }
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] != actual[i]) {
            return ::testing::AssertionFailure()
                   << "first difference at target offset " << i << ": got "
                   << static_cast<int>(actual[i]) << ", expected " << static_cast<int>(expected[i]);
        }
    }
    return ::testing::AssertionSuccess();
}

float float_at(const unsigned char* block, std::size_t offset) {
    float value;
    std::memcpy(&value, block + offset, sizeof value);
    return value;
}

std::uint32_t word_at(const unsigned char* block, std::size_t offset) {
    return static_cast<std::uint32_t>(block[offset]) | static_cast<std::uint32_t>(block[offset + 1]) << 8 |
           static_cast<std::uint32_t>(block[offset + 2]) << 16 |
           static_cast<std::uint32_t>(block[offset + 3]) << 24;
}

TEST(TargetLayout, RowsTileTheWholeFile) {
    // Guards the expectation above: header, carried runs, fixed block,
    // constants, tail run, checksum and zero word follow each other exactly.
    std::size_t at = sizeof HEADER;
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(CARRIED[i].target, at) << "row " << i;
        at += CARRIED[i].length;
    }
    EXPECT_EQ(at, FIXED_AT);
    EXPECT_EQ(FIXED_AT + 360, SEAL_A_AT);
    EXPECT_EQ(SEAL_B_AT + 4, CARRIED[6].target);
    EXPECT_EQ(CARRIED[6].target + CARRIED[6].length, IMAGE_SUM_AT);
    EXPECT_EQ(IMAGE_SUM_AT + 8, QUAZ_SIZE);
    EXPECT_EQ(QUAZ_SIZE, TARGET_SIZE);
}

TEST(TargetBlocks, HeaderBytes) {
    EXPECT_EQ(std::memcmp(TARGET_HEADER, HEADER, sizeof HEADER), 0);
    std::uint32_t sum = 0;
    for (unsigned char byte : TARGET_HEADER) sum += byte;
    EXPECT_EQ(sum, 5352u);
    EXPECT_EQ(TARGET_HEADER[50], 0);
    EXPECT_EQ(TARGET_HEADER[51], 0);
}

TEST(TargetBlocks, FixedBlockBytesAndSum) {
    EXPECT_EQ(std::memcmp(TARGET_FIXED_BLOCK, FIXED_BLOCK, 360), 0);
    std::uint32_t sum = 0;
    for (unsigned char byte : TARGET_FIXED_BLOCK) sum += byte;
    EXPECT_EQ(sum, 15627u);
}

TEST(TargetBlocks, FixedBlockReadsAsMatricesAndFloats) {
    const unsigned char* block = TARGET_FIXED_BLOCK;
    EXPECT_EQ(float_at(block, 352), 10.0f);
    EXPECT_EQ(float_at(block, 356), 10.0f);
    for (std::size_t m : {0u, 80u, 216u, 280u}) {
        SCOPED_TRACE(m);
        EXPECT_EQ(float_at(block, m + 0), 1.0f);
        EXPECT_EQ(float_at(block, m + 4), 0.0f);
        EXPECT_NEAR(float_at(block, m + 20), 0.773152f, 1e-6);
        EXPECT_NEAR(float_at(block, m + 24), 0.634221f, 1e-6);
        EXPECT_NEAR(float_at(block, m + 36), -0.634221f, 1e-6);
        EXPECT_NEAR(float_at(block, m + 40), 0.773152f, 1e-6);
        EXPECT_EQ(float_at(block, m + 48), -5088.0f);
        EXPECT_NEAR(float_at(block, m + 52), 570.8f, 0.1);
        EXPECT_NEAR(float_at(block, m + 56), 29992.2f, 0.1);
        EXPECT_EQ(float_at(block, m + 60), 1.0f);
    }
    EXPECT_NEAR(float_at(block, 144 + 20), 0.0f, 1e-6);
    EXPECT_NEAR(float_at(block, 144 + 24), 1.0f, 1e-6);
    EXPECT_EQ(float_at(block, 144 + 52), 2200.0f);
    EXPECT_EQ(word_at(block, 64), 0u);
    EXPECT_EQ(word_at(block, 68), 1u);
    EXPECT_EQ(word_at(block, 72), 1u);
    EXPECT_EQ(word_at(block, 76), 1u);
    EXPECT_EQ(word_at(block, 208), 0u);
    EXPECT_EQ(word_at(block, 212), 0u);
    EXPECT_EQ(word_at(block, 344), 0u);
    EXPECT_EQ(word_at(block, 348), 0u);
}

TEST(TargetImage, AllZeroSourceChecksums) {
    const Bytes image = core_target(m2q_test::zero_source());
    EXPECT_EQ(image[940], 0xB1);
    EXPECT_EQ(image[941], 0x00);
    EXPECT_EQ(image[942], 0x00);
    EXPECT_EQ(image[943], 0x00);
    EXPECT_EQ(get_le32(image, IMAGE_SUM_AT), 16158u);  // 1E 3F 00 00, not 15,981
    EXPECT_EQ(get_le32(image, SEAL_A_AT), 60u);
    EXPECT_EQ(get_le32(image, SEAL_B_AT), 117u);
    EXPECT_EQ(get_le32(image, 5184402), 0u);
    EXPECT_TRUE(same_image(expected_target(m2q_test::zero_source()), image));
}

TEST(TargetImage, EveryCarriedByteLandsByTheLayout) {
    const Bytes source = m2q_test::pattern_source();
    EXPECT_TRUE(same_image(expected_target(source), core_target(source)));
}

TEST(TargetImage, BuiltInPlaceInsideTheSourceBlock) {
    // Where the converter builds it: in the loaded block, which then holds
    // source bytes under every byte the image has not yet written. Moving a
    // run over bytes still to be moved, or leaving the last four bytes, shows.
    for (const Bytes& source : {m2q_test::pattern_source(), Bytes(SOURCE_SIZE, 0xFF)}) {
        Bytes block = source;
        unsigned char* image = block.data() + TARGET_IMAGE_START;
        fill_target(image, block.data());
        seal_target(image);
        EXPECT_TRUE(same_image(expected_target(source), Bytes(image, image + TARGET_SIZE)));
    }
}

TEST(TargetImage, SealingTouchesOnlyItsFourValues) {
    const Bytes source = m2q_test::pattern_source();
    Bytes image(TARGET_SIZE, 0);
    fill_target(image.data(), source.data());
    const Bytes unsealed = image;
    seal_target(image.data());
    for (std::size_t i = 0; i < image.size(); ++i) {
        const bool sealed = (i >= HEADER_SUM_AT && i < HEADER_SUM_AT + 4) ||
                            (i >= SEAL_A_AT && i < SEAL_B_AT + 4) ||
                            (i >= IMAGE_SUM_AT && i < IMAGE_SUM_AT + 4);
        if (!sealed) {
            ASSERT_EQ(image[i], unsealed[i]) << "offset " << i;
        }
    }
    // The image checksum counts the stored header checksum and constants,
    // and adds the constants once more.
    EXPECT_EQ(get_le32(image, IMAGE_SUM_AT), byte_sum(image, 50, IMAGE_SUM_AT) + 177);
}

TEST(TargetImage, LastFourBytesStayZero) {
    const Bytes source(SOURCE_SIZE, 0xFF);
    const Bytes image = core_target(source);
    EXPECT_EQ(get_le32(image, 5184402), 0u);
    EXPECT_TRUE(same_image(expected_target(source), image));
}

TEST(TargetImage, SummaryFieldsLandAtTheirTargetOffsets) {
    const Bytes source = m2q_test::city_source("ABCDEFGHIJKLMNOP", 0x0A0B0C0D, 0x11223344,
                                               0x0102030405060708LL);
    const Bytes image = core_target(source);
    EXPECT_EQ(get_le32(image, 52), 0x11223344u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data()) + 375, 16), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(m2q_test::get_le64(image, 620), 0x0102030405060708ULL);
    EXPECT_EQ(get_le32(image, 932), 0x0A0B0C0Du);
}

TEST(TargetImage, DroppedSourceBytesHaveNoInfluence) {
    const Bytes source = m2q_test::pattern_source();
    Bytes changed = source;
    std::size_t differing = 0;
    for (const DroppedRun& run : DROPPED) {
        for (std::size_t i = run.begin; i < run.end; ++i) {
            changed[i] = static_cast<unsigned char>(~source[i]);
            ++differing;
        }
    }
    ASSERT_EQ(differing, 49184u + 5 * 8 + 462 + 4);
    EXPECT_TRUE(same_image(core_target(source), core_target(changed)));
}

TEST(TargetImage, ChecksumsCountCarriedBytesAfterTheHeaderChecksumIsStored) {
    // One more in a carried byte past offset 943 raises the image checksum
    // by one; one more before 940 raises the header checksum by one too,
    // and that stored byte counts again in the image checksum.
    const Bytes source = m2q_test::zero_source();
    const std::uint32_t base = get_le32(core_target(source), IMAGE_SUM_AT);
    for (std::size_t at : {std::size_t{50184}, std::size_t{5229982}, std::size_t{5233201}}) {
        Bytes changed = source;
        changed[at] = 1;
        const Bytes image = core_target(changed);
        EXPECT_EQ(get_le32(image, HEADER_SUM_AT), 177u) << "source offset " << at;
        EXPECT_EQ(get_le32(image, IMAGE_SUM_AT), base + 1) << "source offset " << at;
    }
    Bytes changed = source;
    changed[49184] = 1;
    const Bytes image = core_target(changed);
    EXPECT_EQ(get_le32(image, HEADER_SUM_AT), 178u);
    EXPECT_EQ(get_le32(image, IMAGE_SUM_AT), base + 2);
}

TEST(TargetFile, ConvertedFileIsTheExpectedImage) {
    m2q_test::TempFolder folder;
    const Bytes source = m2q_test::pattern_source();
    const std::string path = folder.file("city.psu");
    ASSERT_TRUE(m2q_test::write_file(path, source));
    char message[MESSAGE_SIZE];
    ASSERT_EQ(convert_file(platform_native(), path.c_str(), message), CONVERT_OK) << message;
    EXPECT_TRUE(same_image(expected_target(source), m2q_test::read_file(folder.file("gamedata_city.dat"))));
    EXPECT_EQ(m2q_test::read_file(path), source);  // the source is left as it was
}

}  // namespace

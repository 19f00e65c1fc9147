// The native create_write: a file is created, or cut to nothing when it
// holds anything, so a conversion always leaves exactly the new save.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "melno2quaz.h"
#include "platform.h"
#include "sample_save.h"
#include "target_save.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

class NativeCreateWrite : public ::testing::Test {
protected:
    static void write_bytes(const fs::path& path, std::size_t count)
    {
        std::ofstream out(path, std::ios::binary);
        out << std::string(count, 'z');
    }
    m2q_test::TempFolder folder_;
    const fs::path& dir_ = folder_.path();
};

TEST_F(NativeCreateWrite, CreatesNewAndEmptiesExistingFiles)
{
    const PlatformOps& os = platform_native();
    const fs::path fresh = dir_ / "fresh.dat";
    const fs::path full = dir_ / "full.dat";
    const fs::path empty = dir_ / "empty.dat";
    write_bytes(full, 1000);
    write_bytes(empty, 0);

    for (const fs::path& path : {fresh, full, empty}) {
        const PlatformFile file = os.create_write(m2q_test::narrow(path).c_str());
        ASSERT_NE(file, NO_FILE) << path;
        std::uint32_t done = 0;
        EXPECT_TRUE(os.write(file, "abc", 3, &done));
        EXPECT_TRUE(os.close(file));
        EXPECT_EQ(fs::file_size(path), 3u) << path;
    }
    // A folder cannot be created as a file.
    EXPECT_EQ(os.create_write(m2q_test::narrow(dir_).c_str()), NO_FILE);
}

TEST_F(NativeCreateWrite, ConversionReplacesALongerOutputWhole)
{
    const fs::path source = dir_ / "city.psu";
    const fs::path output = dir_ / "gamedata_city.dat";
    ASSERT_TRUE(sample_write_file(sample_save_defaults(), m2q_test::narrow(source).c_str()));
    write_bytes(output, TARGET_SIZE + 4096);

    char message[MESSAGE_SIZE];
    ASSERT_EQ(convert_file(m2q_test::narrow(source).c_str(), message), CONVERT_OK);
    EXPECT_EQ(fs::file_size(output), TARGET_SIZE);
    std::ifstream in(output, std::ios::binary);
    in.seekg(TARGET_SIZE - 4);
    char tail[4] = {1, 1, 1, 1};
    in.read(tail, 4);
    EXPECT_EQ(std::string(tail, 4), std::string(4, '\0'));  // the zero end of a Quaz save
}

}  // namespace

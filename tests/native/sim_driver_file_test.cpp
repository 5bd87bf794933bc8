// The simulated adapter's driver image read from a file.
#include "sim/sim_config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace qvx {
namespace {

class DriverImageFileTest : public ::testing::Test {
protected:
    DriverImageFileTest() {
        Folder = ::testing::TempDir();
        if (!Folder.empty() && Folder.back() != '/')
            Folder += '/';
        Image = Folder + "qvx_driver_image.bin";
        Config = Folder + "qvx_driver_image.cfg";
        Write(Image, std::string("MZ\0\x01MkdV7\0", 11));
    }
    ~DriverImageFileTest() override {
        std::remove(Image.c_str());
        std::remove(Config.c_str());
    }
    static void Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    std::string Folder, Image, Config;
};

TEST_F(DriverImageFileTest, AbsolutePathAndPathBesideTheConfigurationFile) {
    TSimConfig config;
    std::string error;
    ASSERT_TRUE(ParseSimConfig("driver.image.file=" + Image, config, error)) << error;
    EXPECT_EQ(config.DriverImage, std::string("MZ\0\x01MkdV7\0", 11));

    Write(Config, "driver.image=x\ndriver.image.file=qvx_driver_image.bin\n");
    TSimConfig fromFile;
    ASSERT_TRUE(LoadSimConfig("@" + Config, fromFile, error)) << error;
    EXPECT_EQ(fromFile.DriverImage, config.DriverImage);
}

TEST_F(DriverImageFileTest, AMissingFileIsAnErrorAndChangesNothing) {
    TSimConfig config;
    const Bytes before = config.DriverImage;
    std::string error;
    EXPECT_FALSE(ParseSimConfig("driver.image.file=" + Folder + "none.bin", config, error));
    EXPECT_NE(error.find("none.bin"), std::string::npos);
    EXPECT_FALSE(ParseSimConfig("driver.image.file=", config, error));
    EXPECT_EQ(config.DriverImage, before);
}

} // namespace
} // namespace qvx

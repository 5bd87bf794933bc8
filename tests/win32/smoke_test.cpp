#include <windows.h>

#include <gtest/gtest.h>

TEST(Win32Smoke, RunsUnderTheEmulator) {
    char path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
    EXPECT_NE(std::string(path).find("win32_tests"), std::string::npos);
}
